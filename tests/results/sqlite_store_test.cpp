// The station's results file: every job committed as it ends, in WAL mode, migrated forward,
// and a file that cannot be written never stops a download.
#include <gtest/gtest.h>

#ifdef PELOR_HAVE_SQLITE
#include <filesystem>
#include <fstream>
#include <thread>

#include "config/text_encoding.h"
#include "results/recorder.h"
#include "results/sqlite_store.h"
#include "results_fixtures.h"
#include "sqlite_fixtures.h"
#include "support/temp_dir.h"

using results_test::Job;
using results_test::LoadAll;
using results_test::LocalOnly;

TEST(ResultsSqlite, ABatchOfEightWithMixedResultsIsOnRecordAsRecorded) {
    TempDir dir;
    const std::string path = dir / "pelor/results.db";  // the folder is made as needed
    std::vector<JobRecord> batch;
    {
        ResultsRecorder recorder(LocalOnly(path));
        for (int ch = 0; ch < 8; ++ch) {
            batch.push_back(Job(ch, ch != 2 && ch != 5, 1796668301000LL + ch, 30 + ch));
            recorder.Record(batch.back());
        }
        EXPECT_EQ(recorder.SessionDone(), 6);
        EXPECT_EQ(recorder.SessionFailed(), 2);
        EXPECT_EQ(recorder.DatabasePath(), path);
        EXPECT_TRUE(recorder.TakeMessages().empty());
        // Committed at once, readable by another connection while the recorder has it open.
        EXPECT_EQ(LoadAll(path), batch);
    }
    EXPECT_EQ(LoadAll(path), batch);
    // The file says WAL in its header (bytes 18 and 19 are 2 in WAL mode).
    std::ifstream in(path, std::ios::binary);
    char header[20] = {};
    in.read(header, sizeof header);
    EXPECT_EQ(header[18], 2);
    EXPECT_EQ(header[19], 2);

    // Filters: by station and by start time; a job id recorded twice stays one row.
    std::string error;
    auto store = SqliteResultsStore::Open(path, &error);
    ASSERT_TRUE(store) << error;
    ASSERT_TRUE(store->Add(batch[0], &error));
    std::vector<JobRecord> rows;
    ASSERT_TRUE(store->Load({RESULTS_FormatUtc(1796668301006LL), ""}, &rows, &error));
    EXPECT_EQ(rows.size(), 2u);
    ASSERT_TRUE(store->Load({"", "bench-4"}, &rows, &error));
    EXPECT_TRUE(rows.empty());
    ASSERT_TRUE(store->Load({}, &rows, &error));
    EXPECT_EQ(rows.size(), 8u);
}

TEST(ResultsSqlite, AnOlderFileIsMigratedForwardWithItsRows) {
    TempDir dir;
    const std::string path = dir / "results.db";
    std::string error;
    {
        auto v1 = SqliteResultsStore::Open(path, &error, 1);
        ASSERT_TRUE(v1) << error;
        EXPECT_EQ(v1->SchemaVersion(), 1);
        ASSERT_TRUE(v1->Exec(
            "INSERT INTO jobs (job_id, station, channel, port, device, started_at, ended_at, "
            "images, boot, erase, format, resource_address, bytes_sent, result, last_text, "
            "version) VALUES ('0b6c3c1e-4f0e-4a59-9d1c-5d0f0c2b1a11', 'bench-1', 3, 'COM4', "
            "'COM4', '2026-11-30T08:00:00.000Z', '2026-11-30T08:01:00.000Z', '[]', 0, 'none', "
            "1, '', 1000, 'failed', 'ERR: Unlock', '1.2.0')",
            &error))
            << error;
    }
    auto store = SqliteResultsStore::Open(path, &error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->SchemaVersion(), kResultsSchemaVersion);
    std::vector<JobRecord> rows;
    ASSERT_TRUE(store->Load({}, &rows, &error)) << error;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].station, "bench-1");
    EXPECT_EQ(rows[0].lastText, "ERR: Unlock");
    EXPECT_EQ(rows[0].failStep, "");
    // Rows from before a server was known wait to go up like new ones.
    ASSERT_TRUE(store->Pending(10, &rows, &error));
    EXPECT_EQ(rows.size(), 1u);
    // And the new columns take new rows.
    JobRecord r = Job(1, false);
    r.failStep = "open";
    r.failReason = "busy";
    ASSERT_TRUE(store->Add(r, &error)) << error;
    ASSERT_TRUE(store->Load({}, &rows, &error));
    EXPECT_EQ(rows.back(), r);
}

TEST(ResultsSqlite, AFileFromANewerProgramIsLeftAlone) {
    TempDir dir;
    const std::string path = dir / "results.db";
    std::string error;
    {
        auto store = SqliteResultsStore::Open(path, &error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(store->Exec("UPDATE schema_version SET version = 99", &error));
    }
    EXPECT_FALSE(SqliteResultsStore::Open(path, &error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;
}

TEST(ResultsSqlite, PendingRowsComeInOrderUntilMarked) {
    TempDir dir;
    std::string error;
    auto store = SqliteResultsStore::Open(dir / "results.db", &error);
    ASSERT_TRUE(store) << error;
    std::vector<JobRecord> jobs;
    for (int i = 0; i < 5; ++i) {
        jobs.push_back(Job(i % 8, true));
        ASSERT_TRUE(store->Add(jobs.back(), &error));
    }
    std::vector<JobRecord> pending;
    ASSERT_TRUE(store->Pending(3, &pending, &error));
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(pending[0].jobId, jobs[0].jobId);
    EXPECT_EQ(pending[2].jobId, jobs[2].jobId);
    ASSERT_TRUE(store->MarkUploaded({jobs[0].jobId, jobs[1].jobId}, &error));
    ASSERT_TRUE(store->Pending(10, &pending, &error));
    ASSERT_EQ(pending.size(), 3u);
    EXPECT_EQ(pending[0].jobId, jobs[2].jobId);
}

TEST(ResultsSqlite, AFullDiskIsOneClearLineAndTheJobsGoOn) {
    TempDir dir;
    std::string error;
    auto store = SqliteResultsStore::Open(dir / "results.db", &error);
    ASSERT_TRUE(store) << error;
    // The file may not grow by a page more: as a disk that is full.
    ASSERT_TRUE(store->Exec("PRAGMA max_page_count = 1", &error)) << error;
    JobRecord big = Job(0, true);
    big.lastText = std::string(20000, 'x');
    EXPECT_FALSE(store->Add(big, &error));
    EXPECT_NE(error.find("full"), std::string::npos) << error;
}

TEST(ResultsSqlite, AnUnwritableFolderIsOneClearLineAndRecordingGoesOn) {
    TempDir dir;
    // A file where the folder should be: no store, whoever runs the test (root too).
    std::ofstream(dir / "blocked") << "x";
    ResultsRecorder recorder(LocalOnly(dir / "blocked/pelor/results.db"));
    recorder.Record(Job(0, true));
    recorder.Record(Job(1, false));
    EXPECT_EQ(recorder.SessionDone(), 1);
    EXPECT_EQ(recorder.SessionFailed(), 1);
    EXPECT_TRUE(recorder.DatabasePath().empty());
    const std::vector<std::string> lines = recorder.TakeMessages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("results: not kept on this station: ", 0), 0u) << lines[0];
}

// A file that takes no row (a full disk): each job it does not take is named, held in memory
// and written into the file as soon as it takes rows again; what it never takes is said to be
// lost, not to wait in the file, with a server or without.
TEST(ResultsSqlite, JobsTheFileCannotTakeAreNamedHeldAndWrittenWhenItTakesThemAgain) {
    TempDir dir;
    const std::string db = dir / "results.db";
    results_test::BreakWrites(db, "INSERT");
    {
        ResultsRecorder recorder(LocalOnly(db));
        for (int ch = 0; ch < 3; ++ch) recorder.Record(Job(ch, true));
        std::vector<std::string> said = recorder.TakeMessages();
        ASSERT_EQ(said.size(), 3u) << ::testing::PrintToString(said);
        for (int ch = 0; ch < 3; ++ch) {
            EXPECT_NE(said[ch].find("job of channel " + std::to_string(ch) + " not kept"),
                      std::string::npos)
                << said[ch];
        }
        results_test::MendWrites(db, "INSERT");
        recorder.Record(Job(3, true));
        EXPECT_EQ(LoadAll(db).size(), 4u);
        said = recorder.TakeMessages();
        ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(said);
        EXPECT_NE(said[0].find("3 job(s) held in memory are kept in it now"), std::string::npos);
    }
    for (const bool server : {false, true}) {
        SCOPED_TRACE(server ? "a server that cannot be reached" : "no server");
        const std::string broken = dir / (server ? "server.db" : "alone.db");
        results_test::BreakWrites(broken, "INSERT");
        ResultsConfig c = LocalOnly(broken);
        if (server) c.serverUrl = "postgresql://line@/results?host=" + dir / "no-server";
        ResultsRecorder recorder(c);
        recorder.Record(Job(0, true));
        recorder.Record(Job(1, false));
        recorder.Close(std::chrono::milliseconds(300));
        std::string said;
        for (const std::string& line : recorder.TakeMessages()) said += line + "\n";
        EXPECT_NE(said.find("2 job(s) are lost"), std::string::npos) << said;
        EXPECT_EQ(said.find("wait on this station (in"), std::string::npos) << said;
    }
    EXPECT_EQ(LoadAll(db).size(), 4u);
}

TEST(ResultsSqlite, RecordingOffKeepsNoFileButCounts) {
    TempDir dir;
    ResultsConfig c = LocalOnly(dir / "results.db");
    c.enabled = false;
    ResultsRecorder recorder(c);
    recorder.Record(Job(0, true));
    EXPECT_EQ(recorder.SessionDone(), 1);
    EXPECT_FALSE(std::ifstream(dir / "results.db").good());
}

TEST(ResultsSqlite, WhereNoWriteAheadLogCanBeKeptTheRollbackJournalKeepsTheRowsAndSaysSo) {
    TempDir dir;
    std::string error;
    // A file layer without memory shared between connections, as some network folders give.
    auto store =
        SqliteResultsStore::Open(dir / "results.db", &error, kResultsSchemaVersion, "unix-dotfile");
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(store->JournalMode(), "delete");
    EXPECT_NE(store->Note().find("rollback journal"), std::string::npos) << store->Note();
    const JobRecord job = Job(4, true);
    ASSERT_TRUE(store->Add(job, &error)) << error;
    std::vector<JobRecord> rows;
    ASSERT_TRUE(store->Load({}, &rows, &error)) << error;
    EXPECT_EQ(rows, std::vector<JobRecord>{job});
    // With WAL there is nothing to say.
    auto wal = SqliteResultsStore::Open(dir / "wal.db", &error);
    ASSERT_TRUE(wal) << error;
    EXPECT_EQ(wal->JournalMode(), "wal");
    EXPECT_EQ(wal->Note(), "");
}

#ifdef _WIN32
TEST(ResultsSqlite, DefaultFileIsUnderLocalAppData) {
    const char* saved = std::getenv("LOCALAPPDATA");
    const std::string localAppData = saved != nullptr ? saved : "";
    ::setenv("LOCALAPPDATA", "C:\\Users\\op\\AppData\\Local", 1);
    EXPECT_EQ(RESULTS_DefaultDatabasePath(), "C:\\Users\\op\\AppData\\Local\\pelor\\results.db");
    ::unsetenv("LOCALAPPDATA");
    EXPECT_EQ(RESULTS_DefaultDatabasePath(), "");
    ResultsRecorder recorder(ResultsConfig{});
    const std::vector<std::string> lines = recorder.TakeMessages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("set LOCALAPPDATA"), std::string::npos) << lines[0];
    if (saved != nullptr) ::setenv("LOCALAPPDATA", localAppData.c_str(), 1);
}

TEST(ResultsSqlite, AFolderNameOutsideAsciiIsTheFolderMadeAndTheFileOpened) {
    // Paths are in the system code page; the file must land under the same name that Windows
    // shows, not under its bytes taken as UTF-8.
    const std::u16string name = u"J\u00fcrgen";
    const std::string narrow = TEXT_Utf16ToNarrow(name);
    if (TEXT_NarrowToUtf16(narrow) != name) GTEST_SKIP() << "the code page has no u-umlaut";
    TempDir dir;
    const std::string path = dir.path() + "\\" + narrow + "\\pelor\\results.db";
    std::string error;
    {
        auto store = SqliteResultsStore::Open(path, &error);
        ASSERT_TRUE(store) << error;
        ASSERT_TRUE(store->Add(Job(0, true), &error)) << error;
    }
    const std::filesystem::path wide(TEXT_NarrowToUtf16(dir.path()) + u"\\" + name +
                                     u"\\pelor\\results.db");
    EXPECT_TRUE(std::filesystem::is_regular_file(wide));
    EXPECT_EQ(LoadAll(path).size(), 1u);
}
#else
TEST(ResultsSqlite, DefaultFileFollowsXdgDataHomeThenHome) {
    const char* savedXdg = std::getenv("XDG_DATA_HOME");
    const std::string xdg = savedXdg != nullptr ? savedXdg : "";
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    ::setenv("XDG_DATA_HOME", "/data/x", 1);
    EXPECT_EQ(RESULTS_DefaultDatabasePath(), "/data/x/pelor/results.db");
    ::setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored
    ::setenv("HOME", "/home/op", 1);
    EXPECT_EQ(RESULTS_DefaultDatabasePath(), "/home/op/.local/share/pelor/results.db");
    ::setenv("HOME", home.c_str(), 1);
    if (savedXdg != nullptr) {
        ::setenv("XDG_DATA_HOME", xdg.c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}
#endif
#endif  // PELOR_HAVE_SQLITE

#if defined(PELOR_HAVE_SQLITE) && defined(PELOR_HAVE_LIBPQ)
TEST(ResultsSqlite, WhileNoServerAnswersRowsFromManyThreadsWaitAndOneLineIsSaid) {
    TempDir dir;
    ResultsConfig c = LocalOnly(dir / "results.db");
    // A socket folder with no server in it: every attempt fails at once.
    c.serverUrl = "postgresql://line@/results?host=" + dir / "no-server";
    c.retryInterval = std::chrono::milliseconds(1);
    ResultsRecorder recorder(c);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&recorder, t] {
            for (int i = 0; i < 10; ++i) recorder.Record(Job(t, i % 3 != 0));
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(recorder.Waiting(), 40);
    EXPECT_EQ(recorder.SessionDone() + recorder.SessionFailed(), 40);
    std::vector<std::string> said;
    for (int pass = 0; pass < 2000 && said.empty(); ++pass) {
        said = recorder.TakeMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // many more attempts
    for (std::string& line : recorder.TakeMessages()) said.push_back(line);
    ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(said);
    EXPECT_NE(said[0].find("rows wait on this station"), std::string::npos);
    EXPECT_FALSE(recorder.Flush(std::chrono::seconds(5)));  // gives up at once: it is down
    EXPECT_EQ(LoadAll(dir / "results.db").size(), 40u);
}
#endif

#if defined(PELOR_HAVE_SQLITE) && defined(PELOR_HAVE_LIBPQ)
// A backlog left by a long outage is counted, not read: the station starts at once, and ends
// within its bound.
TEST(ResultsSqlite, ABacklogOfWaitingRowsHoldsUpNeitherTheStartNorTheEnd) {
    TempDir dir;
    const std::string db = dir / "results.db";
    constexpr int kBacklog = 100000;
    results_test::AddBacklog(db, "bench-3", kBacklog);
    ResultsConfig c = LocalOnly(db);
    c.serverUrl = "postgresql://line@/results?host=" + dir / "no-server";
    const auto before = std::chrono::steady_clock::now();
    ResultsRecorder recorder(c);
    recorder.Record(Job(0, true));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(300));
    EXPECT_EQ(recorder.Waiting(), kBacklog + 1);
    recorder.Close(std::chrono::seconds(1));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1500));
}
#endif

#if defined(PELOR_HAVE_SQLITE) && !defined(PELOR_HAVE_LIBPQ)
// Builds without libpq (Windows): a server URL is one line, and the jobs stay on the station
// without being said to wait for a server that this build will never reach.
TEST(ResultsSqlite, ABuildThatCannotReachAServerSaysSoOnceAndKeepsTheJobsHere) {
    TempDir dir;
    ResultsConfig c = LocalOnly(dir / "results.db");
    c.serverUrl = "postgresql://line@db.example/results";
    ResultsRecorder recorder(c);
    recorder.Record(Job(0, true));
    recorder.Record(Job(1, false));
    EXPECT_EQ(recorder.Waiting(), 0);
    EXPECT_TRUE(recorder.Flush(std::chrono::milliseconds(1)));
    const std::vector<std::string> lines = recorder.TakeMessages();
    ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
    EXPECT_NE(lines[0].find("without libpq"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("kept on this station only"), std::string::npos) << lines[0];
    EXPECT_EQ(LoadAll(dir / "results.db").size(), 2u);
}
#endif
