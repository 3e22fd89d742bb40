// A line's server: a real PostgreSQL server that scripts/test-results-pg starts on a local
// socket (PELOR_TEST_PG_URL, and PELOR_TEST_PG_CTL to stop and start it). Without one these
// tests are skipped. Each test writes under stations of its own, so they share the server.
#include <gtest/gtest.h>

#if defined(PELOR_HAVE_SQLITE) && defined(PELOR_HAVE_LIBPQ)
#include <chrono>
#include <cstdlib>
#include <functional>
#include <set>
#include <thread>

#include "results/pg_session.h"
#include "results/pg_store.h"
#include "results/recorder.h"
#include "results/sqlite_store.h"
#include "results/summary.h"
#include "results_fixtures.h"
#include "sqlite_fixtures.h"
#include "support/pg_client.h"
#include "support/temp_dir.h"

using results_test::Job;

namespace {

class ResultsServer : public ::testing::Test {
protected:
    void SetUp() override {
        const char* url = std::getenv("PELOR_TEST_PG_URL");
        if (url == nullptr || url[0] == '\0') {
            GTEST_SKIP() << "no test server (scripts/test-results-pg starts one)";
        }
        url_ = url;
        const char* ctl = std::getenv("PELOR_TEST_PG_CTL");
        ctl_ = ctl != nullptr ? ctl : "";
    }
    void TearDown() override {
        if (stopped_) Server("start");
        if (readOnly_) {
            PgClient admin(url_);
            SetReadOnly(admin, false);
        }
    }

    // The whole server read-only for every session, also the open ones, or writable again.
    void SetReadOnly(PgClient& admin, bool on) {
        EXPECT_EQ(admin.Exec(std::string("ALTER SYSTEM SET default_transaction_read_only = ") +
                             (on ? "on" : "off")),
                  "");
        EXPECT_EQ(admin.Exec("SELECT pg_reload_conf()"), "t");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the sessions take it
        readOnly_ = on;
    }

    void Server(const char* what) {
        ASSERT_FALSE(ctl_.empty()) << "PELOR_TEST_PG_CTL is not set";
        ASSERT_EQ(std::system((ctl_ + " " + what + " >/dev/null 2>&1").c_str()), 0) << what;
        stopped_ = std::string(what) == "stop";
    }

    ResultsConfig Config(const std::string& station, const std::string& db) {
        ResultsConfig c;
        c.databasePath = db;
        c.serverUrl = url_;
        c.station = station;
        c.retryInterval = std::chrono::milliseconds(20);
        return c;
    }

    // The server's rows of a station.
    std::vector<JobRecord> OnServer(const std::string& station) {
        std::string error;
        auto store = PgResultsStore::Open(url_, &error);
        EXPECT_TRUE(store) << error;
        std::vector<JobRecord> rows;
        if (store) {
            EXPECT_TRUE(store->Load({"", station}, &rows, &error)) << error;
        }
        return rows;
    }

    static std::string Station() { return "test-" + RESULTS_NewJobId().substr(0, 8); }

    // Waits (in 5 ms passes, at most 10 s) until done holds.
    static bool Soon(const std::function<bool()>& done) {
        for (int pass = 0; pass < 2000; ++pass) {
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return done();
    }

    // The rows the station's file keeps as waiting, and as refused by the server.
    static std::size_t PendingIn(const std::string& db) {
        std::string error;
        auto local = SqliteResultsStore::Open(db, &error);
        int pending = 0;
        EXPECT_TRUE(local && local->CountPending(&pending, &error)) << error;
        return static_cast<std::size_t>(pending);
    }
    static std::vector<RefusedJob> RefusedIn(const std::string& db) {
        std::string error;
        auto local = SqliteResultsStore::Open(db, &error);
        std::vector<RefusedJob> refused;
        EXPECT_TRUE(local && local->Refused(&refused, &error)) << error;
        return refused;
    }

    static JobRecord JobOf(const std::string& station, int ch, bool ok) {
        JobRecord r = Job(ch, ok);
        r.station = station;
        return r;
    }

    // Waits (in 5 ms passes, at most 10 s) until the recorder has said something with text.
    static bool SaysSoon(ResultsRecorder& recorder, const std::string& text,
                         std::vector<std::string>* said) {
        for (int pass = 0; pass < 2000; ++pass) {
            for (std::string& line : recorder.TakeMessages()) said->push_back(std::move(line));
            for (const std::string& line : *said) {
                if (line.find(text) != std::string::npos) return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    std::string url_;
    std::string ctl_;
    bool stopped_ = false;
    bool readOnly_ = false;
};

}  // namespace

TEST_F(ResultsServer, RowsArriveWithEveryField) {
    TempDir dir;
    const std::string station = Station();
    std::vector<JobRecord> jobs;
    {
        ResultsRecorder recorder(Config(station, dir / "results.db"));
        for (int ch = 0; ch < 3; ++ch) {
            jobs.push_back(JobOf(station, ch, ch != 1));
            recorder.Record(jobs.back());
        }
        JobRecord odd = JobOf(station, 3, false);
        odd.lastText = "ÄÖ \"quoted\" text";
        jobs.push_back(odd);
        recorder.Record(odd);
        EXPECT_TRUE(recorder.Flush(std::chrono::seconds(10)));
        EXPECT_EQ(recorder.Waiting(), 0);
        EXPECT_TRUE(recorder.TakeMessages().empty());
    }
    std::vector<JobRecord> rows = OnServer(station);
    ASSERT_EQ(rows.size(), 4u);
    std::sort(rows.begin(), rows.end(),
              [&](const JobRecord& a, const JobRecord& b) { return a.jobId < b.jobId; });
    std::set<std::string> ids;
    for (const JobRecord& r : rows) ids.insert(r.jobId);
    for (const JobRecord& j : jobs) {
        ASSERT_EQ(ids.count(j.jobId), 1u);
        const auto it = std::find_if(rows.begin(), rows.end(),
                                     [&](const JobRecord& r) { return r.jobId == j.jobId; });
        EXPECT_EQ(*it, j);
    }
    // The station's own rows are all marked as sent.
    std::string error;
    auto local = SqliteResultsStore::Open(dir / "results.db", &error);
    ASSERT_TRUE(local) << error;
    std::vector<JobRecord> pending;
    ASSERT_TRUE(local->Pending(100, &pending, &error));
    EXPECT_TRUE(pending.empty());
}

TEST_F(ResultsServer, TheSameJobSentTwiceIsOneRow) {
    const std::string station = Station();
    std::string error;
    auto store = PgResultsStore::Open(url_, &error);
    ASSERT_TRUE(store) << error;
    const JobRecord r = JobOf(station, 0, true);
    ASSERT_TRUE(store->Add(r, &error)) << error;
    ASSERT_TRUE(store->Add(r, &error)) << error;
    EXPECT_EQ(OnServer(station).size(), 1u);
}

TEST_F(ResultsServer, RowsWaitWhileTheServerIsDownAndGoUpOnceWhenItIsBack) {
    TempDir dir;
    const std::string station = Station();
    const std::string db = dir / "results.db";
    std::set<std::string> recorded;
    auto record = [&](ResultsRecorder& recorder, int ch) {
        const JobRecord r = JobOf(station, ch, ch % 3 != 0);
        recorded.insert(r.jobId);
        recorder.Record(r);
    };
    {
        ResultsRecorder recorder(Config(station, db));
        record(recorder, 0);
        record(recorder, 1);
        ASSERT_TRUE(recorder.Flush(std::chrono::seconds(10)));

        Server("stop");
        // Jobs go on while the server is away; each is committed on the station at once.
        for (int ch = 2; ch < 6; ++ch) record(recorder, ch);
        std::vector<std::string> said;
        EXPECT_TRUE(SaysSoon(recorder, "rows wait on this station", &said));
        EXPECT_EQ(recorder.Waiting(), 4);
        EXPECT_FALSE(recorder.Flush(std::chrono::milliseconds(50)));

        Server("start");
        // Flush gives up at once while the server is known to be down: first it is back.
        EXPECT_TRUE(SaysSoon(recorder, "reachable again", &said));
        EXPECT_TRUE(recorder.Flush(std::chrono::seconds(20)));
        // One line for the outage, however many attempts it took.
        int outage = 0;
        for (const std::string& line : said) outage += line.find("rows wait") != std::string::npos;
        EXPECT_EQ(outage, 1) << ::testing::PrintToString(said);

        // Down again, and the station is switched off with a row still waiting.
        Server("stop");
        record(recorder, 7);
        EXPECT_EQ(recorder.Waiting(), 1);
    }
    Server("start");
    {
        // The next start of the station sends it.
        ResultsRecorder recorder(Config(station, db));
        EXPECT_EQ(recorder.Waiting(), 1);
        EXPECT_TRUE(recorder.Flush(std::chrono::seconds(20)));
    }
    const std::vector<JobRecord> rows = OnServer(station);
    std::set<std::string> arrived;
    for (const JobRecord& r : rows) arrived.insert(r.jobId);
    EXPECT_EQ(rows.size(), recorded.size()) << "none twice";
    EXPECT_EQ(arrived, recorded) << "none lost";
    // In order: the rows went up as they were recorded.
    std::string error;
    auto local = SqliteResultsStore::Open(db, &error);
    ASSERT_TRUE(local) << error;
    std::vector<JobRecord> pending;
    ASSERT_TRUE(local->Pending(100, &pending, &error));
    EXPECT_TRUE(pending.empty());
}

TEST_F(ResultsServer, TwoStationsWritingAtOnce) {
    TempDir dir;
    const std::array<std::string, 2> stations = {Station(), Station()};
    constexpr int kJobs = 40;
    {
        ResultsRecorder a(Config(stations[0], dir / "a.db"));
        ResultsRecorder b(Config(stations[1], dir / "b.db"));
        std::thread ta([&] {
            for (int i = 0; i < kJobs; ++i) a.Record(JobOf(stations[0], i % 8, i % 5 != 0));
        });
        std::thread tb([&] {
            for (int i = 0; i < kJobs; ++i) b.Record(JobOf(stations[1], i % 8, i % 4 != 0));
        });
        ta.join();
        tb.join();
        EXPECT_TRUE(a.Flush(std::chrono::seconds(20)));
        EXPECT_TRUE(b.Flush(std::chrono::seconds(20)));
        EXPECT_TRUE(a.TakeMessages().empty());
        EXPECT_TRUE(b.TakeMessages().empty());
    }
    EXPECT_EQ(OnServer(stations[0]).size(), static_cast<std::size_t>(kJobs));
    EXPECT_EQ(OnServer(stations[1]).size(), static_cast<std::size_t>(kJobs));
}

TEST_F(ResultsServer, ABadUrlOrRefusedLoginIsOneLineAndTheStationKeepsRecording) {
    TempDir dir;
    const std::string station = Station();
    // A role the server does not know: the login is refused.
    std::string refused = url_;
    const std::size_t scheme = refused.find("://") + 3;
    const std::size_t at = refused.find('@', scheme);
    refused = refused.substr(0, scheme) + "nosuchrole" +
              (at != std::string::npos ? refused.substr(at) : "@" + refused.substr(scheme));
    {
        ResultsConfig c = Config(station, dir / "refused.db");
        c.serverUrl = refused;
        ResultsRecorder denied(c);
        denied.Record(JobOf(station, 0, true));
        denied.Record(JobOf(station, 1, false));
        std::vector<std::string> said;
        EXPECT_TRUE(SaysSoon(denied, "nosuchrole", &said));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // several more attempts
        for (std::string& line : denied.TakeMessages()) said.push_back(line);
        ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(said);
        EXPECT_EQ(said[0].rfind("results: cannot reach the results server", 0), 0u) << said[0];
        EXPECT_EQ(denied.Waiting(), 2);
        EXPECT_EQ(denied.SessionDone(), 1);
        EXPECT_FALSE(denied.DatabasePath().empty());
    }
    std::string error;
    auto local = SqliteResultsStore::Open(dir / "refused.db", &error);
    ASSERT_TRUE(local) << error;
    std::vector<JobRecord> rows;
    ASSERT_TRUE(local->Load({}, &rows, &error));
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_TRUE(OnServer(station).empty());

    // Not a server URL at all: said at once, nothing is tried.
    ResultsConfig c = Config(station, dir / "other.db");
    c.serverUrl = "db.example:5432/line";
    ResultsRecorder wrong(c);
    const std::vector<std::string> lines = wrong.TakeMessages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("is not a results server URL"), std::string::npos) << lines[0];
}

// --- What a server can do to a station: it never holds it, and no row is lost or doubled ----

TEST_F(ResultsServer, ALockedJobsTableNeverHoldsTheStationAndItsRowsGoUpOnceLater) {
    TempDir dir;
    const std::string station = Station();
    const std::string db = dir / "results.db";
    OnServer(station);  // the tables exist
    PgClient other(url_);
    ASSERT_TRUE(other.Ok()) << other.Error();
    // A long migration, or a session left in the middle of one.
    ASSERT_EQ(other.Exec("BEGIN; LOCK TABLE pelor_jobs IN ACCESS EXCLUSIVE MODE"), "");
    std::set<std::string> recorded;
    {
        ResultsConfig c = Config(station, db);
        c.server.lock = std::chrono::seconds(60);  // only the stop ends the wait
        ResultsRecorder recorder(c);
        for (int ch = 0; ch < 3; ++ch) {
            const JobRecord r = JobOf(station, ch, true);
            recorded.insert(r.jobId);
            const auto before = std::chrono::steady_clock::now();
            recorder.Record(r);
            EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500))
                << "a job waited for the server";
        }
        ASSERT_TRUE(Soon([&] { return other.StationWaitingOnALock() == 1; }));
        const auto before = std::chrono::steady_clock::now();
        recorder.Close(std::chrono::seconds(1));
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
        EXPECT_EQ(recorder.Waiting(), 3);
        const std::vector<std::string> said = recorder.TakeMessages();
        ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(said);
        EXPECT_NE(said[0].find("3 job(s) wait on this station (in " + db + ")"), std::string::npos)
            << said[0];
        // The statement was cancelled on the server, not left in the lock's queue.
        EXPECT_TRUE(Soon([&] { return other.StationWaitingOnALock() == 0; }));
    }
    EXPECT_EQ(other.Exec("ROLLBACK"), "");
    EXPECT_EQ(PendingIn(db), 3u);
    {
        ResultsRecorder later(Config(station, db));
        EXPECT_TRUE(later.Flush(std::chrono::seconds(10)));
    }
    std::set<std::string> arrived;
    const std::vector<JobRecord> rows = OnServer(station);
    for (const JobRecord& r : rows) arrived.insert(r.jobId);
    EXPECT_EQ(rows.size(), 3u) << "none twice";
    EXPECT_EQ(arrived, recorded);
}

TEST_F(ResultsServer, AServerMadeReadOnlyUnderAnOpenSessionTakesItsRowsOnceWhenWritableAgain) {
    TempDir dir;
    const std::string station = Station();
    const std::string db = dir / "results.db";
    PgClient admin(url_);
    ASSERT_TRUE(admin.Ok()) << admin.Error();
    std::set<std::string> recorded;
    {
        ResultsRecorder recorder(Config(station, db));
        auto record = [&](int ch) {
            const JobRecord r = JobOf(station, ch, ch != 1);
            recorded.insert(r.jobId);
            recorder.Record(r);
        };
        record(0);
        ASSERT_TRUE(recorder.Flush(std::chrono::seconds(10)));  // the session is open
        // What a failover to a standby does to the sessions that were open.
        SetReadOnly(admin, true);
        record(1);
        record(2);
        std::vector<std::string> said;
        ASSERT_TRUE(SaysSoon(recorder, "read-only", &said)) << ::testing::PrintToString(said);
        EXPECT_EQ(recorder.Waiting(), 2);
        EXPECT_TRUE(RefusedIn(db).empty()) << "not the rows' fault";
        SetReadOnly(admin, false);
        EXPECT_TRUE(SaysSoon(recorder, "reachable again", &said));
        EXPECT_TRUE(recorder.Flush(std::chrono::seconds(10)));
    }
    std::set<std::string> arrived;
    const std::vector<JobRecord> rows = OnServer(station);
    for (const JobRecord& r : rows) arrived.insert(r.jobId);
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_EQ(arrived, recorded);
    EXPECT_EQ(PendingIn(db), 0u);
}

TEST_F(ResultsServer, AServerStoppedMidStatementLeavesTheRowsWaitingAndTheyGoUpOnce) {
    TempDir dir;
    const std::string station = Station();
    const std::string db = dir / "results.db";
    OnServer(station);
    std::set<std::string> recorded;
    {
        auto other = std::make_unique<PgClient>(url_);
        ASSERT_TRUE(other->Ok()) << other->Error();
        ASSERT_EQ(other->Exec("BEGIN; LOCK TABLE pelor_jobs IN ACCESS EXCLUSIVE MODE"), "");
        ResultsConfig c = Config(station, db);
        c.server.lock = std::chrono::seconds(60);
        ResultsRecorder recorder(c);
        for (int ch = 0; ch < 2; ++ch) {
            const JobRecord r = JobOf(station, ch, ch == 0);
            recorded.insert(r.jobId);
            recorder.Record(r);
        }
        ASSERT_TRUE(Soon([&] { return other->StationWaitingOnALock() == 1; }));
        Server("stop");  // the administrator's shutdown ends the statement in flight
        other.reset();
        std::vector<std::string> said;
        EXPECT_TRUE(SaysSoon(recorder, "rows wait on this station", &said));
        EXPECT_EQ(recorder.Waiting(), 2);
        EXPECT_TRUE(RefusedIn(db).empty());
        Server("start");
        EXPECT_TRUE(SaysSoon(recorder, "reachable again", &said));
        EXPECT_TRUE(recorder.Flush(std::chrono::seconds(10)));
    }
    std::set<std::string> arrived;
    const std::vector<JobRecord> rows = OnServer(station);
    for (const JobRecord& r : rows) arrived.insert(r.jobId);
    EXPECT_EQ(rows.size(), 2u);
    EXPECT_EQ(arrived, recorded);
}

TEST_F(ResultsServer, ARowTheServerRefusesForItsDataStaysOnTheStationMarkedAndTheRestGoUp) {
    TempDir dir;
    const std::string station = Station();
    const std::string db = dir / "results.db";
    JobRecord bad = JobOf(station, 0, false);
    bad.lastText = "ERR: \xff\xfe";  // not UTF-8: the server's class 22
    const JobRecord good = JobOf(station, 1, true);
    {
        ResultsRecorder recorder(Config(station, db));
        recorder.Record(bad);
        recorder.Record(good);
        EXPECT_TRUE(recorder.Flush(std::chrono::seconds(10)));
        const std::vector<std::string> said = recorder.TakeMessages();
        ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(said);
        EXPECT_NE(said[0].find("refused job " + bad.jobId + " of channel 0 for good"),
                  std::string::npos)
            << said[0];
    }
    const std::vector<JobRecord> rows = OnServer(station);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].jobId, good.jobId);
    const std::vector<RefusedJob> refused = RefusedIn(db);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].record, bad);
    EXPECT_NE(refused[0].reason.find("22021"), std::string::npos) << refused[0].reason;
    EXPECT_EQ(PendingIn(db), 0u) << "never sent again";
}
#endif

#if defined(PELOR_HAVE_SQLITE) && defined(PELOR_HAVE_LIBPQ)
// --- What a full disk does to the station's file while the server is up ---------------------

// The file takes no marks of rows sent (and no new rows): the rows go up once each without a
// pause-less loop, the problem is said once, and the job held in memory reaches the server too.
TEST_F(ResultsServer, AFileThatCannotMarkRowsSentNeitherSpinsNorStarvesTheRowsHeldInMemory) {
    TempDir dir;
    const std::string station = Station();
    const std::string db = dir / "results.db";
    std::set<std::string> recorded;
    {
        // Rows from an earlier run wait in the file.
        std::string error;
        auto local = SqliteResultsStore::Open(db, &error);
        ASSERT_TRUE(local) << error;
        for (int ch = 0; ch < 3; ++ch) {
            const JobRecord old = JobOf(station, ch, true);
            recorded.insert(old.jobId);
            ASSERT_TRUE(local->Add(old, &error)) << error;
        }
    }
    results_test::BreakWrites(db, "UPDATE");
    results_test::BreakWrites(db, "INSERT");
    ResultsRecorder recorder(Config(station, db));
    const JobRecord fresh = JobOf(station, 4, true);
    recorded.insert(fresh.jobId);
    recorder.Record(fresh);  // the file refuses it: held in memory for the server
    EXPECT_TRUE(recorder.Flush(std::chrono::seconds(10)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // time enough to spin
    recorder.Close(std::chrono::seconds(1));
    int markLines = 0;
    std::vector<std::string> said = recorder.TakeMessages();
    for (const std::string& line : said) {
        markLines += line.find("cannot mark rows as sent") != std::string::npos ? 1 : 0;
        EXPECT_EQ(line.find("are lost"), std::string::npos) << line;
    }
    EXPECT_EQ(markLines, 1) << ::testing::PrintToString(said);
    std::set<std::string> arrived;
    for (const JobRecord& r : OnServer(station)) arrived.insert(r.jobId);
    EXPECT_EQ(arrived, recorded);
    EXPECT_EQ(PendingIn(db), 3u) << "never marked, so a later run sends them again";
}

// A backlog left by a long outage: the station starts at once, the uploader works through it
// in batches, and closing keeps its bound; what did not go up waits for a later run.
TEST_F(ResultsServer, ABacklogOfWaitingRowsHoldsUpNeitherTheStartNorTheEnd) {
    TempDir dir;
    const std::string station = Station();
    const std::string db = dir / "results.db";
    constexpr int kBacklog = 100000;
    results_test::AddBacklog(db, station, kBacklog);
    const auto before = std::chrono::steady_clock::now();
    ResultsRecorder recorder(Config(station, db));
    recorder.Record(JobOf(station, 0, true));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(300));
    const auto closing = std::chrono::steady_clock::now();
    recorder.Close(std::chrono::seconds(1));
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::milliseconds(1500));
    const std::size_t arrived = OnServer(station).size();
    EXPECT_GT(arrived, 0u);
    EXPECT_EQ(PendingIn(db) + arrived, static_cast<std::size_t>(kBacklog + 1));
}
#endif

#if defined(PELOR_HAVE_SQLITE) && defined(PELOR_HAVE_LIBPQ)
// --- Reading a line's whole record (`pelor results`) ----------------------------------------

// The server counts and groups: its summary is the station's own summary of the same rows, and
// a few hundred thousand rows are summarised within the reading session's bounds.
TEST_F(ResultsServer, TheServerSummarisesAsTheStationDoesAndReadsAFewHundredThousandRows) {
    const std::string station = Station();
    std::string error;
    auto writer = PgResultsStore::Open(url_, &error);
    ASSERT_TRUE(writer) << error;
    // Two days, idle hours between, a tie between causes, an even count of finished jobs.
    const std::int64_t day = 1796668301000LL;
    std::vector<JobRecord> jobs;
    for (int i = 0; i < 10; ++i) {
        JobRecord r = Job(i % 3, i % 4 != 0, day + (i / 3) * 7 * 3600000LL, 30 + i, station);
        if (i == 4) r.failStep = "unlock", r.failReason = "time-out";
        if (i == 8) r.device = "COM9";
        jobs.push_back(r);
        ASSERT_TRUE(writer->Add(r, &error)) << error;
    }
    auto reader = RESULTS_OpenServerStore(url_, &error, RESULTS_ReadingLimits());
    ASSERT_TRUE(reader) << error;
    ResultsSummary onServer;
    ASSERT_TRUE(reader->Summarise({"", station}, &onServer, &error)) << error;
    EXPECT_EQ(RESULTS_SummaryJson(onServer), RESULTS_SummaryJson(RESULTS_Summarise(jobs)));

    // A line's record of some months (left for the whole server's summary that
    // scripts/test-results-pg reads with the real program at the end).
    constexpr int kRows = 200000;
    PgClient admin(url_);
    ASSERT_EQ(admin.Exec("INSERT INTO pelor_jobs (job_id, station, channel, port, device, "
                         "started_at, ended_at, images, boot, erase, format, resource_address, "
                         "bytes_sent, result, last_text, fail_step, fail_reason, version) SELECT "
                         "gen_random_uuid(), '" +
                         station +
                         "-big', i % 8, 'p', 'd', timestamptz '2026-01-01' + i * interval '1 min', "
                         "timestamptz '2026-01-01' + i * interval '1 min' + interval '40 s', "
                         "'[]', false, 'none', true, '0', 4194604, CASE WHEN i % 10 = 0 THEN "
                         "'failed' ELSE 'done' END, 'text', '', '', '1.3.0' FROM "
                         "generate_series(1, " +
                         std::to_string(kRows) + ") i"),
              "");
    const auto before = std::chrono::steady_clock::now();
    ASSERT_TRUE(reader->Summarise({"", station + "-big"}, &onServer, &error)) << error;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    EXPECT_EQ(onServer.jobs, kRows);
    EXPECT_EQ(onServer.failures, kRows / 10);
    EXPECT_EQ(onServer.sockets.size(), 8u);
    EXPECT_DOUBLE_EQ(onServer.medianSeconds, 40.0);
    EXPECT_EQ(onServer.hours.size(), static_cast<std::size_t>(kRows / 60 + 1));
    std::printf("summary of %d rows on the server: %.2f s\n", kRows, seconds);
}

// A session that reads is given up only when the server falls silent for its bound, not when a
// result takes longer than that to arrive.
TEST_F(ResultsServer, AReadingSessionWaitsForAResultThatKeepsComingButNotForSilence) {
    ServerLimits limits = RESULTS_ReadingLimits();
    limits.quiet = std::chrono::milliseconds(700);
    std::string error;
    auto session = PgSession::Connect(url_, limits, nullptr, &error);
    ASSERT_TRUE(session) << error;
    // Twenty kilobytes every 0.2 s for 1.6 s.
    PgReply reply =
        session->Exec("SELECT pg_sleep(0.2), repeat('x', 20000) FROM generate_series(1, 8)");
    EXPECT_TRUE(reply.ok) << reply.message;
    const auto before = std::chrono::steady_clock::now();
    reply = session->Exec("SELECT pg_sleep(3)");
    EXPECT_FALSE(reply.ok);
    EXPECT_NE(reply.message.find("nothing from the server for 0.7 s"), std::string::npos)
        << reply.message;
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(2000));
}
#endif

#if defined(PELOR_HAVE_SQLITE) && defined(PELOR_HAVE_LIBPQ) && !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A login held inside the client library, as a host name lookup that never answers holds it:
// the client library reads its service file there, and a pipe with no writer never answers.
class HeldLogin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::mkfifo(services_.c_str(), 0600), 0);
        ::setenv("PGSERVICEFILE", services_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("PGSERVICEFILE");
        // Lets the logins left behind end: they read nothing, then find no server.
        const int fd = ::open(services_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    const std::string target_ = "postgresql://pelor@localhost:1/pelor?service=held";
    TempDir dir_;
    const std::string services_ = dir_ / "services";
};

}  // namespace

TEST_F(HeldLogin, IsGivenUpWithinTheBoundAndTheStationSaysWhy) {
    std::string error;
    ServerLimits limits;
    limits.connect = std::chrono::milliseconds(300);
    auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(PgSession::Connect(target_, limits, nullptr, &error));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
    EXPECT_NE(error.find("host name could not be looked up"), std::string::npos) << error;

    ResultsConfig c = results_test::LocalOnly(dir_ / "results.db");
    c.serverUrl = target_;
    c.server = limits;
    ResultsRecorder recorder(c);
    recorder.Record(Job(0, true));
    std::string said;
    for (int pass = 0; pass < 1000 && said.find("looked up") == std::string::npos; ++pass) {
        for (const std::string& line : recorder.TakeMessages()) said += line + "\n";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_NE(said.find("its host name could not be looked up"), std::string::npos) << said;
    before = std::chrono::steady_clock::now();
    recorder.Close(std::chrono::seconds(1));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
    EXPECT_EQ(recorder.Waiting(), 1);
}
#endif
