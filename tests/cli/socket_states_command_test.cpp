// `pelor flash --results URL` publishes its sockets for the line view, as the line sees it: the
// real program against simulated handsets and the real server scripts/test-results-pg starts
// (PELOR_TEST_PG_URL); skipped without one.
#include <gtest/gtest.h>

#ifdef PELOR_HAVE_LIBPQ
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/pelor_command.h"
#include "results/job_record.h"
#include "sim/sim_handset.h"
#include "support/pg_client.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class SocketStatesCommand : public ::testing::Test {
protected:
    void SetUp() override {
        const char* url = std::getenv("PELOR_TEST_PG_URL");
        if (url == nullptr || url[0] == '\0') {
            GTEST_SKIP() << "no test server (scripts/test-results-pg starts one)";
        }
        url_ = url;
        char pattern[] = "/tmp/pelor-sockets-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "fw");
        Image(dir_ / "fw" / "partition.mbn", 300);
        Image(dir_ / "fw" / "fwhd.mbn", 1200);
        Image(dir_ / "fw" / "fw.mbn", 0x70000 + 3 * 16384);
        station_ = "bench-" + RESULTS_NewJobId().substr(0, 8);
    }
    void TearDown() override {
        for (auto& h : handsets_) h->Stop();
        std::error_code ec;
        if (!dir_.empty()) fs::remove_all(dir_, ec);
    }

    static void Image(const fs::path& p, std::size_t size) {
        std::ofstream out(p, std::ios::binary);
        for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 7 + 3));
    }

    SimHandset& StartHandset() {
        std::string error;
        auto h = SimHandset::StartOnPty({}, &error);
        EXPECT_TRUE(h) << error;
        handsets_.push_back(std::move(h));
        return *handsets_.back();
    }

    std::string Column(PgClient& db, int channel, const std::string& column) {
        return db.Exec("SELECT " + column + " FROM pelor_sockets WHERE station = '" + station_ +
                       "' AND channel = " + std::to_string(channel));
    }

    std::vector<std::pair<std::string, std::string>> Environment() const {
        return {{"XDG_DATA_HOME", (dir_ / "data").string()}};
    }

    std::string url_;
    fs::path dir_;
    std::string station_;
    std::vector<std::unique_ptr<SimHandset>> handsets_;
};

}  // namespace

// A line of three sockets, socket 2's cable worn through: while it runs the line hears the
// station, and when it ends each socket's row is 'off' with its last result, socket 2's with
// its suspect badge.
TEST_F(SocketStatesCommand, ProductionModeLeavesEachSocketsLastStateAndTheBadSocketsBadge) {
    std::ofstream(dir_ / "pelorw.ini")
        << "[PELOR]\r\nSUSPECT_WINDOW=3\r\nSUSPECT_FAILURES=3\r\nSUSPECT_MIN_JOBS=3\r\n";
    PgClient db(url_);
    ASSERT_TRUE(db.Ok()) << db.Error();
    ASSERT_EQ(db.Exec("LISTEN pelor_line"), "");
    const pid_t sim = StartPelor(dir_,
                                 {"simulate", "-n", "3", "--arrivals", "100ms,uniform:150ms-300ms",
                                  "--bad-socket", "2:1", "--sockets-dir", dir_.string()},
                                 "sim");
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir_ / "socket2"); }, 20s));
    std::vector<std::string> flash = {"flash",      "--continuous",
                                      "--code",     (dir_ / "fw").string(),
                                      "--delay",    "0",
                                      "--max-jobs", "12",
                                      "--station",  station_,
                                      "--results",  url_};
    for (int i = 0; i < 3; ++i) {
        flash.push_back("-p");
        flash.push_back((dir_ / ("socket" + std::to_string(i))).string());
    }
    const pid_t station = StartPelor(dir_, flash, "flash", Environment());
    const std::vector<std::string> heard = db.Notifications(20s);
    EXPECT_EQ(WaitPelor(station, 60s), 1) << Slurp(dir_ / "flash.txt") << Slurp(dir_ / "flash.err");
    ::kill(sim, SIGINT);
    EXPECT_EQ(WaitPelor(sim, 10s), 0) << Slurp(dir_ / "sim.err");

    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard[0], station_);
    const std::string said = Slurp(dir_ / "flash.txt") + Slurp(dir_ / "flash.err");
    EXPECT_EQ(said.find("line view"), std::string::npos) << said;
    for (int ch = 0; ch < 3; ++ch) {
        SCOPED_TRACE(ch);
        EXPECT_EQ(Column(db, ch, "state"), "off");
        EXPECT_EQ(Column(db, ch, "device"), (dir_ / ("socket" + std::to_string(ch))).string());
        EXPECT_EQ(Column(db, ch, "job_started_at IS NOT NULL AND text <> ''"), "t");
    }
    EXPECT_EQ(Column(db, 2, "suspect LIKE 'SUSPECT: 3 of 3 failed (%'"), "t")
        << Column(db, 2, "suspect");
    EXPECT_EQ(Column(db, 0, "suspect") + Column(db, 1, "suspect"), "");
}

// The sockets' table held locked by another session for the whole run: the jobs in a Download
// and in production mode are done and on record as ever, pelor ends soon after its last job,
// and the operator hears once that the view is not updated.
TEST_F(SocketStatesCommand, ALockedSocketsTableHoldsUpNeitherTheJobsNorTheEnd) {
    PgClient other(url_);
    ASSERT_TRUE(other.Ok()) << other.Error();
    {
        // The tables exist.
        SimHandset& h = StartHandset();
        const PelorRun r =
            RunPelor(dir_,
                     {"flash", "-p", h.DevicePath(), "--code", (dir_ / "fw").string(), "--station",
                      station_, "--results", url_},
                     "XDG_DATA_HOME='" + (dir_ / "data").string() + "'");
        ASSERT_EQ(r.status, 0) << r.err;
    }
    ASSERT_EQ(other.Exec("BEGIN; LOCK TABLE pelor_sockets IN ACCESS EXCLUSIVE MODE"), "");
    for (const bool continuous : {false, true}) {
        SCOPED_TRACE(continuous ? "production mode" : "a Download");
        SimHandset& a = StartHandset();
        SimHandset& b = StartHandset();
        std::vector<std::string> args = {"flash",
                                         "-p",
                                         a.DevicePath(),
                                         "-p",
                                         b.DevicePath(),
                                         "--code",
                                         (dir_ / "fw").string(),
                                         "--station",
                                         station_,
                                         "--results",
                                         url_};
        if (continuous) args.insert(args.end(), {"--continuous", "--max-jobs", "2"});
        const pid_t pid = StartPelor(dir_, args, "out", Environment());
        ASSERT_TRUE(WaitUntil([&] { return a.Started() && b.Started(); }, 30s));
        const auto lastGo = std::chrono::steady_clock::now();
        EXPECT_EQ(WaitPelor(pid, 30s), 0) << Slurp(dir_ / "out.err");
        EXPECT_LT(std::chrono::steady_clock::now() - lastGo, 6s) << "pelor was held by the view";
        const std::string said = Slurp(dir_ / "out.txt") + Slurp(dir_ / "out.err");
        std::size_t lines = 0;
        for (auto at = said.find("line view is not updated"); at != std::string::npos;
             at = said.find("line view is not updated", at + 1)) {
            ++lines;
        }
        EXPECT_EQ(lines, 1u) << said;
    }
    ASSERT_EQ(other.Exec("ROLLBACK"), "");
    EXPECT_EQ(other.Exec("SELECT count(*) FROM pelor_jobs WHERE station = '" + station_ +
                         "' AND result = 'done'"),
              "5");
}

#endif  // PELOR_HAVE_LIBPQ
