// The line as `pelor line` reads it: the day's figures per station and the sockets' live state,
// from a real PostgreSQL server (scripts/test-results-pg; skipped without one), each test in a
// database of its own.
#include "results/line_view.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "results/job_record.h"

namespace {

std::int64_t Utc(const std::string& text) {
    std::int64_t ms = 0;
    EXPECT_TRUE(RESULTS_ParseUtc(text, &ms)) << text;
    return ms;
}

}  // namespace

// "Today" starts at the machine's local midnight, also on the day the clocks change.
TEST(LineDay, StartsAtLocalMidnightInEveryZone) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows's C runtime takes no zone names from TZ";
#else
    struct Case {
        const char* zone;
        const char* now;
        const char* midnight;
    } cases[] = {
        {"UTC", "2026-12-10T19:30:00Z", "2026-12-10T00:00:00Z"},
        {"Europe/Berlin", "2026-12-10T23:30:00Z", "2026-12-10T23:00:00Z"},     // 00:30 on the 11th
        {"Europe/Berlin", "2026-03-29T12:00:00Z", "2026-03-28T23:00:00Z"},     // summer time began
        {"America/New_York", "2026-12-11T03:00:00Z", "2026-12-10T05:00:00Z"},  // 22:00 the 10th
    };
    const char* before = std::getenv("TZ");
    const std::string saved = before != nullptr ? before : "";
    for (const Case& c : cases) {
        ::setenv("TZ", c.zone, 1);
        ::tzset();
        EXPECT_EQ(RESULTS_FormatUtc(RESULTS_LocalMidnight(Utc(c.now))),
                  RESULTS_FormatUtc(Utc(c.midnight)))
            << c.zone << " at " << c.now;
    }
    if (before != nullptr) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
#endif
}

#ifdef PELOR_HAVE_LIBPQ

#include "results/pg_store.h"
#include "results_fixtures.h"
#include "support/pg_scratch.h"

namespace {

class LineReading : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("PELOR_TEST_PG_URL") == nullptr) {
            GTEST_SKIP() << "no test server (scripts/test-results-pg starts one)";
        }
        ASSERT_FALSE(db_.Url().empty()) << "no database of the test's own";
    }

    std::unique_ptr<LineSource> Open(const std::string& url) {
        std::string error;
        auto source = RESULTS_OpenLineSource(url, RESULTS_ReadingLimits(), nullptr, &error);
        EXPECT_TRUE(source) << error;
        return source;
    }

    // Job rows as a station sends them.
    void Send(const std::vector<JobRecord>& jobs) {
        std::string error;
        auto store = PgResultsStore::Open(db_.Url(), &error);
        ASSERT_TRUE(store) << error;
        for (const JobRecord& r : jobs)
            ASSERT_EQ(store->Send(r, &error), SendVerdict::Sent) << error;
    }

    ScratchDatabase db_;
};

// A job of station on ch that started at the UTC time start and took minutes.
JobRecord At(const std::string& station, int ch, const std::string& start, double minutes, bool ok,
             const std::string& step = "", const std::string& reason = "") {
    std::int64_t ms = 0;
    RESULTS_ParseUtc(start, &ms);
    JobRecord r = results_test::Job(ch, ok, ms, minutes * 60, station);
    r.failStep = step;
    r.failReason = reason;
    return r;
}

}  // namespace

// Before any station has published or recorded, the line is empty, not an error; job rows
// alone make a station.
TEST_F(LineReading, MissingTablesAreAnEmptyLine) {
    auto source = Open(db_.Url());
    ASSERT_TRUE(source);
    LineView view;
    std::string error;
    ASSERT_TRUE(source->Read(Utc("2026-12-01T00:00:00Z"), &view, &error)) << error;
    EXPECT_TRUE(view.stations.empty());
    EXPECT_TRUE(view.suspects.empty());

    Send({At("bench-a", 0, "2026-12-01T08:00:00Z", 5, true)});
    ASSERT_TRUE(source->Read(Utc("2026-12-01T00:00:00Z"), &view, &error)) << error;
    ASSERT_EQ(view.stations.size(), 1u);
    EXPECT_EQ(view.stations[0].station, "bench-a");
    EXPECT_TRUE(view.stations[0].sockets.empty());
    EXPECT_EQ(view.stations[0].today.done, 1);
}

// Each station's day from its rows: the rows before midnight left out, yield, handsets per hour
// over its working span, failures by step and reason (the bar's last text where no reason was
// recorded), most frequent first; the sockets' state, and the suspect ones listed on top.
TEST_F(LineReading, EachStationsDayAndSocketsFromTheRows) {
    Send({
        At("bench-a", 1, "2026-11-30T23:50:00Z", 5, false, "block", "time-out"),  // yesterday
        At("bench-a", 0, "2026-12-01T08:00:00Z", 10, true),
        At("bench-a", 1, "2026-12-01T08:05:00Z", 10, true),
        At("bench-a", 2, "2026-12-01T08:10:00Z", 10, false, "block", "time-out"),
        At("bench-a", 2, "2026-12-01T08:30:00Z", 10, false, "block", "time-out"),
        At("bench-a", 3, "2026-12-01T09:00:00Z", 10, false, "erase", "refused"),
        At("bench-a", 0, "2026-12-01T09:50:00Z", 10, true),
        At("bench-b", 0, "2026-12-01T10:00:00Z", 5, true),
        At("bench-b", 1, "2026-12-01T10:30:00Z", 5, false),  // no reason: "ERR: Unlock"
        At("bench-c", 0, "2026-12-01T11:00:00Z", 0.5, true),
    });
    PgClient admin(db_.Url());
    ASSERT_EQ(admin.Exec(kLineSocketsTable), "");
    ASSERT_EQ(admin.Exec("INSERT INTO pelor_sockets VALUES "
                         "('bench-a', 0, '/dev/ttyUSB0', 'flashing', 40, 'block 40%', '', '', '', "
                         "'2026-12-01T09:50:00Z', '2026-12-01T09:55:00Z'), "
                         "('bench-a', 2, '/dev/ttyUSB2', 'failed', 0, 'ERR: time-out', 'block', "
                         "'time-out', 'SUSPECT: 2 of 2 failed', '2026-12-01T08:30:00Z', "
                         "'2026-12-01T08:40:00Z'), "
                         "('bench-d', 0, '/dev/ttyUSB0', 'idle', 0, '', '', '', '', NULL, "
                         "'2026-12-01T07:00:00Z')"),
              "");

    auto source = Open(db_.Url());
    ASSERT_TRUE(source);
    LineView view;
    std::string error;
    ASSERT_TRUE(source->Read(Utc("2026-12-01T00:00:00Z"), &view, &error)) << error;

    struct Expected {
        std::string station;
        int jobs, done, failed;
        double yield, perHour;
        std::vector<std::string> failures;  // "step/reason xN"
        std::size_t sockets;
        std::string updated;
    } expected[] = {
        {"bench-a",
         6,
         3,
         3,
         50.0,
         1.5,
         {"block/time-out x2", "erase/refused x1"},
         2,
         "2026-12-01T09:55:00.000Z"},
        {"bench-b", 2, 1, 1, 50.0, 60.0 / 35, {"/ERR: Unlock x1"}, 0, ""},
        {"bench-c", 1, 1, 0, 100.0, 0, {}, 0, ""},  // half a minute: too short to say
        {"bench-d", 0, 0, 0, 0, 0, {}, 1, "2026-12-01T07:00:00.000Z"},
    };
    ASSERT_EQ(view.stations.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Expected& e = expected[i];
        const LineStation& st = view.stations[i];
        SCOPED_TRACE(e.station);
        EXPECT_EQ(st.station, e.station);
        EXPECT_EQ(st.today.jobs, e.jobs);
        EXPECT_EQ(st.today.done, e.done);
        EXPECT_EQ(st.today.failed, e.failed);
        EXPECT_NEAR(st.today.yield, e.yield, 0.01);
        EXPECT_NEAR(st.today.perHour, e.perHour, 0.01);
        std::vector<std::string> failures;
        for (const LineFailure& f : st.today.failures) {
            failures.push_back(f.step + "/" + f.reason + " x" + std::to_string(f.count));
        }
        EXPECT_EQ(failures, e.failures);
        EXPECT_EQ(st.sockets.size(), e.sockets);
        EXPECT_EQ(st.updated, e.updated);
    }
    const LineSocket& flashing = view.stations[0].sockets[0];
    EXPECT_EQ(flashing.state, "flashing");
    EXPECT_EQ(flashing.progress, 40);
    EXPECT_EQ(flashing.jobStartedAt, "2026-12-01T09:50:00.000Z");
    EXPECT_EQ(view.stations[3].sockets[0].jobStartedAt, "");
    ASSERT_EQ(view.suspects.size(), 1u);
    EXPECT_EQ(view.suspects[0].station, "bench-a");
    EXPECT_EQ(view.suspects[0].channel, 2);
    EXPECT_EQ(view.suspects[0].text, "SUSPECT: 2 of 2 failed");

    // The JSON of /api/line: suspects before the stations, times in UTC, no start as null.
    const std::string json = RESULTS_LineJson(view);
    EXPECT_LT(json.find("\"suspects\""), json.find("\"stations\""));
    EXPECT_NE(json.find("\"day_start\":\"2026-12-01T00:00:00.000Z\""), std::string::npos);
    EXPECT_NE(json.find("\"job_started_at\":null"), std::string::npos);
    EXPECT_NE(json.find("\"per_hour\":1.7"), std::string::npos) << json;
    EXPECT_NE(json.find("\"stale\":false"), std::string::npos);
}

// The role the README describes (login, connect, the schema, SELECT on the two tables) reads
// the line and hears the stations' signals; one without SELECT is told why, in one line.
TEST_F(LineReading, AReadOnlyRoleReadsTheLineAndHearsTheStations) {
    Send({At("bench-a", 0, "2026-12-01T08:00:00Z", 5, true)});
    PgClient admin(db_.Url());
    ASSERT_EQ(admin.Exec(kLineSocketsTable), "");
    const std::string reader = db_.MakeRole("view");
    for (const std::string& grant : {"GRANT CONNECT ON DATABASE " + db_.Name() + " TO " + reader,
                                     "GRANT USAGE ON SCHEMA public TO " + reader,
                                     "GRANT SELECT ON pelor_jobs, pelor_sockets TO " + reader}) {
        ASSERT_EQ(admin.Exec(grant), "") << grant;
    }
    auto source = Open(db_.UrlAs(reader));
    ASSERT_TRUE(source);
    LineView view;
    std::string error;
    ASSERT_TRUE(source->Read(Utc("2026-12-01T00:00:00Z"), &view, &error)) << error;
    ASSERT_EQ(view.stations.size(), 1u);

    bool changed = true;
    ASSERT_TRUE(source->AwaitChange(std::chrono::milliseconds(50), &changed));
    EXPECT_FALSE(changed);
    ASSERT_EQ(admin.Exec("SELECT pg_notify('pelor_line', 'bench-a')"), "");
    ASSERT_TRUE(source->AwaitChange(std::chrono::seconds(10), &changed));
    EXPECT_TRUE(changed);

    const std::string stranger = db_.MakeRole("stranger");
    ASSERT_EQ(admin.Exec("GRANT CONNECT ON DATABASE " + db_.Name() + " TO " + stranger), "");
    auto refused = Open(db_.UrlAs(stranger));
    ASSERT_TRUE(refused);
    EXPECT_FALSE(refused->Read(Utc("2026-12-01T00:00:00Z"), &view, &error));
    EXPECT_NE(error.find("permission denied"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}
#endif
