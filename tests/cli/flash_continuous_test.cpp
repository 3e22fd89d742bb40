// `pelor flash --continuous` as an operator runs it: sockets are links in the test's folder to
// simulated handsets on pseudo-terminals; a link appearing is a handset plugged in.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/pelor_command.h"
#include "sim/sim_handset.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::vector<nlohmann::json> ReportLines(const fs::path& p) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(Slurp(p));
    for (std::string l; std::getline(in, l);) lines.push_back(nlohmann::json::parse(l));
    return lines;
}

class ContinuousCommand : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/pelor-line-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "fw");
        Write(dir_ / "fw" / "partition.mbn", 300);
        Write(dir_ / "fw" / "fwhd.mbn", 1200);
        Write(dir_ / "fw" / "fw.mbn", 0x70000 + 3 * 16384);
    }
    void TearDown() override {
        for (auto& h : handsets_) h->Stop();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    static void Write(const fs::path& p, std::size_t size) {
        std::ofstream out(p, std::ios::binary);
        for (std::size_t i = 0; i < size; ++i) out.put(static_cast<char>(i * 7 + 3));
    }
    // Plugs a fresh handset into socket n (its link appears at once).
    SimHandset& Plug(int n, SimOptions options = {}) {
        std::string error;
        handsets_.push_back(SimHandset::StartOnPty(options, &error));
        EXPECT_TRUE(handsets_.back()) << error;
        const fs::path link = Socket(n);
        const fs::path temp = link.string() + ".new";
        fs::create_symlink(handsets_.back()->DevicePath(), temp);
        fs::rename(temp, link);
        return *handsets_.back();
    }
    fs::path Socket(int n) const { return dir_ / ("socket" + std::to_string(n)); }
    std::vector<std::string> FlashArgs(int sockets) const {
        std::vector<std::string> args = {"flash",    "--continuous",
                                         "--code",   (dir_ / "fw").string(),
                                         "--delay",  "0",
                                         "--report", (dir_ / "jobs.jsonl").string()};
        for (int i = 0; i < sockets; ++i) {
            args.push_back("-p");
            args.push_back(Socket(i).string());
        }
        return args;
    }
    // Starts pelor in the test's folder; its output goes to NAME.txt and NAME.err, its jobs to
    // the results file in the test's folder.
    pid_t Start(const std::vector<std::string>& args, const std::string& name = "out") {
        return StartPelor(dir_, args, name, {{"XDG_DATA_HOME", (dir_ / "data").string()}});
    }
    static int Wait(pid_t pid, std::chrono::milliseconds bound) { return WaitPelor(pid, bound); }
    static bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds bound) {
        return WaitUntil(done, bound);
    }

    fs::path dir_;
    std::vector<std::unique_ptr<SimHandset>> handsets_;
};

}  // namespace

TEST_F(ContinuousCommand, APresentHandsetAndALaterArrivalAreEachFlashedOnceAndReported) {
    SimHandset& first = Plug(0);
    std::vector<std::string> args = FlashArgs(2);
    args.push_back("--max-jobs");
    args.push_back("2");
    const pid_t pid = Start(args);
    ASSERT_TRUE(WaitFor([&] { return first.Started(); }, 20s));
    SimHandset& second = Plug(1);  // arrives while the station runs
    const auto arrived = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return second.RequestCount() > 0; }, 20s));
    EXPECT_LT(std::chrono::steady_clock::now() - arrived, 500ms)
        << "the job started late after its handset arrived";
    const int status = Wait(pid, 30s);
    EXPECT_EQ(status, 0) << Slurp(dir_ / "out.txt") << Slurp(dir_ / "out.err");
    EXPECT_TRUE(second.Started());
    EXPECT_EQ(first.GoCount(), 1);

    const auto lines = ReportLines(dir_ / "jobs.jsonl");
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines) {
        const int socket = line["socket"].get<int>();
        EXPECT_EQ(line["port"], Socket(socket).string());
        EXPECT_EQ(line["result"], "ok");
        EXPECT_EQ(line["bytes"].get<long long>(), 300 + 1200 + 3 * 16384);
        EXPECT_EQ(line["text"].get<std::string>().rfind("Download Complete! [", 0), 0u);
        EXPECT_LE(line["start"].get<std::string>(), line["end"].get<std::string>());
        EXPECT_EQ(line["start"].get<std::string>().size(), 24u);  // 2026-12-07T19:12:34.366Z
    }
    EXPECT_EQ(lines[0]["socket"], 0);
    EXPECT_NE(Slurp(dir_ / "out.txt").find("total done 2 failed 0"), std::string::npos);
}

TEST_F(ContinuousCommand, FirstInterruptLetsTheJobFinishAndTakesNoMoreHandsets) {
    SimOptions slow;
    slow.programLatencyPerBlock = 60ms;
    SimHandset& h = Plug(0, slow);
    const pid_t pid = Start(FlashArgs(2));
    ASSERT_TRUE(WaitFor([&] { return h.RequestCount() >= 6; }, 20s));
    ::kill(pid, SIGINT);
    std::this_thread::sleep_for(300ms);
    SimHandset& late = Plug(1);  // after the stop: never flashed
    EXPECT_EQ(Wait(pid, 30s), 0) << Slurp(dir_ / "out.txt") << Slurp(dir_ / "out.err");
    EXPECT_TRUE(h.Started());
    EXPECT_EQ(late.RequestCount(), 0u);
    EXPECT_EQ(ReportLines(dir_ / "jobs.jsonl").size(), 1u);
}

TEST_F(ContinuousCommand, SecondInterruptStopsTheRunningJobsAndExitsOne) {
    SimOptions slow;
    slow.programLatencyPerBlock = 500ms;  // the jobs would take many seconds
    SimHandset& a = Plug(0, slow);
    SimHandset& b = Plug(1, slow);
    const pid_t pid = Start(FlashArgs(2));
    ASSERT_TRUE(WaitFor([&] { return a.RequestCount() >= 5 && b.RequestCount() >= 5; }, 20s));
    ::kill(pid, SIGTERM);
    std::this_thread::sleep_for(100ms);
    ::kill(pid, SIGINT);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Wait(pid, 20s), 1) << Slurp(dir_ / "out.txt") << Slurp(dir_ / "out.err");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    const auto lines = ReportLines(dir_ / "jobs.jsonl");
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& line : lines) EXPECT_EQ(line["result"], "failed");
    EXPECT_FALSE(a.Started());
}

TEST_F(ContinuousCommand, ASimulatedLineIsWorkedThroughByTheStation) {
    // The simulator plugs a fresh handset into each socket 100 ms after the last one's job
    // and a swap time; the station flashes six handsets through two sockets.
    const pid_t sim = Start({"simulate", "-n", "2", "--arrivals", "100ms,uniform:150ms-300ms",
                             "--handsets", "6", "--sockets-dir", dir_.string()},
                            "sim");
    ASSERT_TRUE(WaitFor([&] { return fs::exists(Socket(0)) && fs::exists(Socket(1)); }, 20s));
    std::vector<std::string> args = FlashArgs(2);
    args.push_back("--max-jobs");
    args.push_back("6");
    const pid_t station = Start(args);
    EXPECT_EQ(Wait(station, 60s), 0) << Slurp(dir_ / "out.txt");
    ::kill(sim, SIGINT);
    EXPECT_EQ(Wait(sim, 10s), 0);
    const auto lines = ReportLines(dir_ / "jobs.jsonl");
    ASSERT_EQ(lines.size(), 6u);
    int onSocket0 = 0;
    for (const auto& line : lines) {
        EXPECT_EQ(line["result"], "ok") << line.dump();
        onSocket0 += line["socket"].get<int>() == 0;
    }
    EXPECT_GE(onSocket0, 2);
    EXPECT_LE(onSocket0, 4);
    EXPECT_FALSE(fs::exists(Socket(0))) << "the simulator took its handsets out when it ended";
}

TEST_F(ContinuousCommand, ASimulatedLinesHandsetsCommitTheFaultsGiven) {
    // Every handset the simulator plugs in refuses GO: the station fails each job. A fault for
    // one handset by number means nothing on a line of arrivals, and is refused.
    const std::vector<std::string> line = {"simulate",    "-n",         "2", "--arrivals",
                                           "100ms,150ms", "--handsets", "2", "--sockets-dir",
                                           dir_.string()};
    std::vector<std::string> numbered = line;
    numbered.insert(numbered.end(), {"--fault", "1=refuse:GO"});
    EXPECT_EQ(Wait(Start(numbered, "numbered"), 20s), 2);
    EXPECT_NE(Slurp(dir_ / "numbered.err").find("--arrivals"), std::string::npos)
        << Slurp(dir_ / "numbered.err");

    std::vector<std::string> refusing = line;
    refusing.insert(refusing.end(), {"--fault", "refuse:GO", "--reply-latency", "1ms"});
    const pid_t sim = Start(refusing, "sim");
    ASSERT_TRUE(WaitFor([&] { return fs::exists(Socket(0)) && fs::exists(Socket(1)); }, 20s));
    std::vector<std::string> args = FlashArgs(2);
    args.push_back("--max-jobs");
    args.push_back("2");
    EXPECT_EQ(Wait(Start(args), 60s), 1) << Slurp(dir_ / "out.txt");
    ::kill(sim, SIGINT);
    EXPECT_EQ(Wait(sim, 10s), 0);
    const auto lines = ReportLines(dir_ / "jobs.jsonl");
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& l : lines) EXPECT_NE(l["result"], "ok") << l.dump();
}

TEST_F(ContinuousCommand, UsageErrorsSendNothing) {
    SimHandset& h = Plug(0);
    std::vector<std::string> args = FlashArgs(1);
    args.erase(args.begin() + 1);  // no --continuous
    args.push_back("--max-jobs");
    args.push_back("3");
    EXPECT_EQ(Wait(Start(args), 20s), 2);
    EXPECT_NE(Slurp(dir_ / "out.err").find("--max-jobs needs --continuous"), std::string::npos);
    std::vector<std::string> unwritable = FlashArgs(1);
    unwritable[7] = (dir_ / "no-such-folder" / "jobs.jsonl").string();  // the --report file
    EXPECT_EQ(Wait(Start(unwritable), 20s), 2);
    EXPECT_NE(Slurp(dir_ / "out.err").find("cannot append to the report"), std::string::npos);
    EXPECT_EQ(h.RequestCount(), 0u);
}
