// The sockets' states a station publishes for the line view, against the real server that
// scripts/test-results-pg starts (PELOR_TEST_PG_URL, PELOR_TEST_PG_CTL); skipped without one.
#include <gtest/gtest.h>

#include "results/socket_state_feed.h"

#ifdef PELOR_HAVE_LIBPQ
#include <cstdlib>
#include <functional>
#include <thread>

#include "results/job_record.h"
#include "results/socket_state_publisher.h"
#include "support/pg_client.h"

using namespace std::chrono_literals;

namespace {

class SocketStates : public ::testing::Test {
protected:
    void SetUp() override {
        const char* url = std::getenv("PELOR_TEST_PG_URL");
        if (url == nullptr || url[0] == '\0') {
            GTEST_SKIP() << "no test server (scripts/test-results-pg starts one)";
        }
        url_ = url;
        const char* ctl = std::getenv("PELOR_TEST_PG_CTL");
        ctl_ = ctl != nullptr ? ctl : "";
        station_ = "sockets-" + RESULTS_NewJobId().substr(0, 8);
    }
    void TearDown() override {
        if (stopped_) Server("start");
    }

    void Server(const char* what) {
        ASSERT_FALSE(ctl_.empty()) << "PELOR_TEST_PG_CTL is not set";
        ASSERT_EQ(std::system((ctl_ + " " + what + " >/dev/null 2>&1").c_str()), 0) << what;
        stopped_ = std::string(what) == "stop";
    }

    SocketStatesConfig Config() const {
        SocketStatesConfig c;
        c.serverUrl = url_;
        c.station = station_;
        c.retryInterval = 20ms;
        return c;
    }

    // One column of the station's socket row ("" when there is none).
    std::string Column(PgClient& db, int channel, const std::string& column) {
        return db.Exec("SELECT " + column + " FROM pelor_sockets WHERE station = '" + station_ +
                       "' AND channel = " + std::to_string(channel));
    }

    // Waits (in 5 ms passes, at most 10 s) until done holds.
    static bool Soon(const std::function<bool()>& done) {
        for (int pass = 0; pass < 2000; ++pass) {
            if (done()) return true;
            std::this_thread::sleep_for(5ms);
        }
        return done();
    }

    static SocketStateUpdate Flashing(int channel, int progress) {
        SocketStateUpdate u;
        u.channel = channel;
        u.device = "/dev/ttyUSB" + std::to_string(channel);
        u.state = kSocketFlashing;
        u.progress = progress;
        u.text = "AMSS: " + std::to_string(progress) + "%";
        u.jobStartedMs = 1796668301000LL;
        return u;
    }

    std::string url_;
    std::string ctl_;
    std::string station_;
    bool stopped_ = false;
};

}  // namespace

TEST_F(SocketStates, EachSocketsLatestStateGoesUpInFewBatchesAndAListenerHearsTheStation) {
    PgClient db(url_);
    ASSERT_TRUE(db.Ok()) << db.Error();
    ASSERT_EQ(db.Exec("LISTEN pelor_line"), "");
    SocketStatesConfig config = Config();
    SocketStatePublisher publisher(config);
    // A second of a job's bar moving on socket 0 while socket 1 fails and is flagged.
    const auto start = std::chrono::steady_clock::now();
    int updates = 0;
    for (int progress = 0; std::chrono::steady_clock::now() - start < 1s; progress += 10) {
        publisher.Publish(Flashing(0, progress % 100));
        ++updates;
        std::this_thread::sleep_for(5ms);
    }
    SocketStateUpdate done = Flashing(0, 100);
    done.state = kSocketDone;
    done.text = "Download completed";
    publisher.Publish(done);
    SocketStateUpdate failed = Flashing(1, 0);
    failed.state = kSocketFailed;
    failed.text = "FAILED: no answer";
    failed.failStep = "block";
    failed.failReason = "time-out";
    failed.suspect = "SUSPECT: 3 of 5 failed (time-out 3)";
    publisher.Publish(failed);
    ASSERT_TRUE(Soon([&] { return Column(db, 0, "state") == "done"; })) << Column(db, 0, "state");
    ASSERT_TRUE(Soon([&] { return Column(db, 1, "state") == "failed"; }));
    EXPECT_EQ(Column(db, 0, "progress"), "100");
    EXPECT_EQ(Column(db, 0, "text"), "Download completed");
    EXPECT_EQ(Column(db, 0, "device"), "/dev/ttyUSB0");
    EXPECT_EQ(Column(db, 0, "fail_step || fail_reason || suspect"), "");
    EXPECT_EQ(Column(db, 1, "fail_step || ' ' || fail_reason"), "block time-out");
    EXPECT_EQ(Column(db, 1, "suspect"), failed.suspect);
    EXPECT_EQ(Column(db, 1, "job_started_at = '2026-12-07T18:31:41Z'::timestamptz"), "t");
    // At most about four batches a second, each socket's latest state only.
    EXPECT_GT(updates, 50);
    EXPECT_LE(publisher.Batches(), 7) << updates << " updates";
    EXPECT_LE(publisher.Rows(), 2 * publisher.Batches());
    const std::vector<std::string> heard = db.Notifications(2s);
    ASSERT_FALSE(heard.empty());
    for (const std::string& payload : heard) EXPECT_EQ(payload, station_);

    // The end: each socket 'off', its last text and badge kept, within the bound.
    const auto closing = std::chrono::steady_clock::now();
    publisher.Close(2s);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 2500ms);
    EXPECT_EQ(Column(db, 0, "state"), "off");
    EXPECT_EQ(Column(db, 1, "state || ' ' || fail_reason || text"), "off FAILED: no answer");
    EXPECT_EQ(Column(db, 1, "suspect"), failed.suspect);
    EXPECT_TRUE(publisher.TakeMessages().empty());
}

// A station named at length (the server's signals take under 8000 bytes) still goes up, its
// signal naming it by its start.
TEST_F(SocketStates, AStationWithALongNameStillGoesUp) {
    PgClient db(url_);
    ASSERT_TRUE(db.Ok()) << db.Error();
    ASSERT_EQ(db.Exec("LISTEN pelor_line"), "");
    station_ += std::string(9000, 'b');
    SocketStatePublisher publisher(Config());
    publisher.Publish(Flashing(0, 30));
    EXPECT_TRUE(Soon([&] { return Column(db, 0, "progress") == "30"; }))
        << testing::PrintToString(publisher.TakeMessages());
    const std::vector<std::string> heard = db.Notifications(2s);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.front(), station_.substr(0, 1000));
    publisher.Close(2s);
}

// What the server can do to the view: be away, hold the table locked, stop in the middle of a
// run. Publish never waits, the outage is said once however many tries it takes, and Close
// ends within its bound.
TEST_F(SocketStates, AServerAwayLockedOrStoppedCostsTheStationNothingButTheView) {
    enum class Fault { Away, Locked, Stopped };
    struct Case {
        const char* name;
        Fault fault;
    } cases[] = {{"away", Fault::Away}, {"locked", Fault::Locked}, {"stopped", Fault::Stopped}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        station_ = "sockets-" + RESULTS_NewJobId().substr(0, 8);
        SocketStatesConfig config = Config();
        if (c.fault == Fault::Away) config.serverUrl = "postgresql:///pelor?host=/nonexistent";
        config.server.lock = 300ms;
        PgClient other(url_);
        std::unique_ptr<SocketStatePublisher> publisher =
            std::make_unique<SocketStatePublisher>(config);
        if (c.fault != Fault::Away) {
            // Up and running first.
            publisher->Publish(Flashing(0, 0));
            ASSERT_TRUE(Soon([&] { return publisher->Batches() == 1; }));
        }
        if (c.fault == Fault::Locked) {
            ASSERT_EQ(other.Exec("BEGIN; LOCK TABLE pelor_sockets IN ACCESS EXCLUSIVE MODE"), "");
        }
        if (c.fault == Fault::Stopped) Server("stop");
        auto slowest = 0ms;
        for (int i = 0; i < 200; ++i) {
            const auto before = std::chrono::steady_clock::now();
            publisher->Publish(Flashing(i % 8, i % 10 * 10));
            slowest = std::max(slowest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - before));
            std::this_thread::sleep_for(5ms);
        }
        EXPECT_LT(slowest, 50ms) << "Publish waited for the server";
        // Said once, though it was tried again and again meanwhile.
        std::vector<std::string> said;
        ASSERT_TRUE(Soon([&] {
            for (std::string& line : publisher->TakeMessages()) said.push_back(line);
            return !said.empty();
        }));
        std::this_thread::sleep_for(500ms);
        for (std::string& line : publisher->TakeMessages()) said.push_back(line);
        ASSERT_EQ(said.size(), 1u) << ::testing::PrintToString(said);
        EXPECT_NE(said[0].find("results: the line view is not updated: "), std::string::npos);
        if (c.fault == Fault::Stopped) {
            // Back: the latest states go up and that is said once too.
            Server("start");
            SocketStateUpdate last = Flashing(3, 70);
            publisher->Publish(last);
            PgClient db(url_);
            ASSERT_TRUE(Soon([&] { return Column(db, 3, "progress") == "70"; }));
            ASSERT_TRUE(Soon([&] {
                for (std::string& line : publisher->TakeMessages()) said.push_back(line);
                return said.size() == 2;
            }));
            EXPECT_EQ(said[1], "results: the line view is updated again");
        }
        const auto closing = std::chrono::steady_clock::now();
        publisher->Close(1s);
        EXPECT_LT(std::chrono::steady_clock::now() - closing, 1500ms);
        if (c.fault == Fault::Locked) {
            EXPECT_EQ(other.Exec("ROLLBACK"), "");
        }
    }
}

#endif  // PELOR_HAVE_LIBPQ

// The bar as published: in steps of 10, and its text with the same coarse percent, so that a
// running job changes its row ten times per image, not a hundred.
TEST(SocketStateFeed, ABarIsPublishedInStepsOfTenPercent) {
    struct Case {
        BarState bar;
        int percent;
        const char* text;
    } cases[] = {
        {{"AMSS: 47% [478/1000]", 0, 1000, 478}, 40, "AMSS: 40%"},
        {{"AMSS: 9% [99/1000]", 0, 1000, 99}, 0, "AMSS: 0%"},
        {{"Done", 0, 100, 100}, 100, "Done"},
        {{"Erasing...", 0, 0, 0}, 0, "Erasing..."},
    };
    for (const Case& c : cases) {
        int percent = -1;
        std::string text;
        RESULTS_CoarseProgress(c.bar, &percent, &text);
        EXPECT_EQ(percent, c.percent) << c.bar.text;
        EXPECT_EQ(text, c.text) << c.bar.text;
    }
}
