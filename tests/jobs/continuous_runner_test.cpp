// Production mode: sockets whose handsets come and go on loopback lines, watched by the same
// presence check as device paths. Each socket is "loop:NAME"; plugging a handset registers the
// name, unplugging removes it and pulls the handset's cable.
#include <dirent.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <functional>

#include "jobs/continuous_runner.h"
#include "jobs/job_test_util.h"
#include "link/outcome.h"
#include "sim/sim_names.h"

namespace jobs_test {
namespace {

using namespace std::chrono_literals;

// One socket of the line: a stable port, and the handset plugged into it (if any).
class TestSocket {
public:
    explicit TestSocket(std::string name) : name_(std::move(name)) {
        port_ = PORTTABLE_Assign(Device());
    }
    ~TestSocket() { Unplug(); }
    TestSocket(const TestSocket&) = delete;
    TestSocket& operator=(const TestSocket&) = delete;

    std::string Device() const { return "loop:" + name_; }
    int port() const { return port_; }

    SimHandset& Plug(SimOptions options = {}) {
        Unplug();
        const int fd = LOOPBACK_Create(name_);
        EXPECT_GE(fd, 0);
        handset_ = SimHandset::StartOnFd(fd, std::move(options));
        EXPECT_NE(handset_, nullptr);
        ++plugged_;
        return *handset_;
    }
    void Unplug() {
        if (!handset_) return;
        LOOPBACK_Remove(name_);
        handset_->Unplug();
        handset_.reset();
    }
    SimHandset* handset() const { return handset_.get(); }
    int plugged() const { return plugged_; }

private:
    std::string name_;
    int port_ = 0;
    std::unique_ptr<SimHandset> handset_;
    int plugged_ = 0;
};

int Count(const std::vector<SimRequest>& log, int commandIndex) {
    return static_cast<int>(OfCode(log, commandIndex).size());
}

// The sockets, a small resource image, and a runner whose pump calls a test's script.
class ProductionLine {
public:
    explicit ProductionLine(int sockets, std::size_t imageBytes = 3 * 16384 + 100) {
        static std::atomic<int> counter{0};
        const int line = counter++;
        for (int i = 0; i < sockets; ++i) {
            sockets_.push_back(std::make_unique<TestSocket>("cont" + std::to_string(line) + "s" +
                                                            std::to_string(i)));
        }
        WriteBytes(dir_.File("res.bin"), Pattern(imageBytes, 9));
        EXPECT_EQ(PELOR_SetImage(kResourceSlot, dir_.File("res.bin").c_str(), "0"), kResourceSlot);
    }
    TestSocket& operator[](int i) { return *sockets_[i]; }

    ContinuousOptions Options() {
        ContinuousOptions o;
        for (std::size_t i = 0; i < sockets_.size(); ++i) {
            o.ports[i] = sockets_[i]->port();
            o.devices[i] = sockets_[i]->Device();
        }
        o.baud = kBaud;
        o.target = &recorder;
        o.poll = 2ms;
        o.onJobEnd = [this](const ContinuousJob& job) {
            std::lock_guard lock(mu_);
            jobs_.push_back(job);
        };
        return o;
    }
    std::vector<ContinuousJob> Jobs() const {
        std::lock_guard lock(mu_);
        return jobs_;
    }

    Recorder recorder;

private:
    TempDir dir_;
    std::vector<std::unique_ptr<TestSocket>> sockets_;
    mutable std::mutex mu_;
    std::vector<ContinuousJob> jobs_;
};

// Runs the runner with a pump that calls step once per pass until it returns false (then asks
// for a stop) or a bound of passes is reached (then fails the test and aborts).
void RunScript(ContinuousRunner& runner, const std::function<bool()>& step, int maxPasses = 20000) {
    int passes = 0;
    bool stopped = false;
    runner.Run([&](std::chrono::milliseconds) {
        std::this_thread::sleep_for(1ms);
        if (stopped) return;
        if (++passes > maxPasses) {
            std::string states;
            for (int i = 0; i < kChannels; ++i) {
                const SocketSnapshot s = runner.Socket(i);
                states += " [" + std::to_string(static_cast<int>(s.state)) + " " + s.text + "]";
            }
            ADD_FAILURE() << "the script did not finish:" << states;
            runner.RequestAbort();
            stopped = true;
        } else if (!step()) {
            runner.RequestStop();
            stopped = true;
        }
    });
}

}  // namespace

TEST(ContinuousRunner, PortsPresentAtStartAreFlashedOnceAndNotAgainWhileLeftPluggedIn) {
    JobGuard guard;
    ProductionLine line(2);
    line[0].Plug();
    line[1].Plug();
    ContinuousRunner runner(line.Options());
    int quietPasses = 0;
    RunScript(runner, [&] {
        if (line.Jobs().size() < 2) return true;
        // Both are done and still plugged in: many looks later, nothing has started again.
        return ++quietPasses < 100;
    });
    const auto jobs = line.Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(jobs[i].ok) << jobs[i].text;
        const auto log = SettledLog(*line[i].handset());
        EXPECT_EQ(Count(log, CMD_UNLOCK), 1) << Sequence(log);
        EXPECT_EQ(line[i].handset()->GoCount(), 1);
        EXPECT_TRUE(VerifyChannel(*line[i].handset(), i).ok);
        const SocketSnapshot s = runner.Socket(i);
        EXPECT_EQ(s.done, 1);
        EXPECT_EQ(s.failed, 0);
        EXPECT_EQ(s.state, SocketState::Finished);
    }
    EXPECT_EQ(jobs[0].bytes, 3 * 16384 + 100);
    EXPECT_LE(jobs[0].start, jobs[0].end);
    const ContinuousTotals totals = runner.Totals();
    EXPECT_EQ(totals.done, 2);
    EXPECT_EQ(totals.failed, 0);
    EXPECT_GT(totals.perHour, 0);
}

TEST(ContinuousRunner, ArrivalWhileAnotherSocketIsMidJobStartsAtOnceAndFinishesFirst) {
    JobGuard guard;
    ProductionLine line(2, 12 * 16384);
    SimOptions slow;
    slow.programLatencyPerBlock = 40ms;  // socket 0's job takes about half a second
    line[0].Plug(slow);
    ContinuousRunner runner(line.Options());
    bool plugged = false;
    RunScript(runner, [&] {
        if (!plugged && line[0].handset()->RequestCount() >= 6) {
            EXPECT_EQ(runner.Socket(0).state, SocketState::Running);
            line[1].Plug();
            plugged = true;
        }
        return line.Jobs().size() < 2;
    });
    const auto jobs = line.Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].channel, 1) << "the late arrival did not overtake the slow job";
    EXPECT_TRUE(jobs[0].ok);
    EXPECT_TRUE(jobs[1].ok);
    EXPECT_TRUE(VerifyChannel(*line[1].handset(), 1).ok);
    EXPECT_EQ(line[1].handset()->GoCount(), 1);
}

TEST(ContinuousRunner, RemovalDuringItsJobFailsOnlyThatJobAndTheNextArrivalStartsAfresh) {
    JobGuard guard;
    ProductionLine line(2, 12 * 16384);
    SimOptions slow;
    slow.programLatencyPerBlock = 30ms;
    line[0].Plug(slow);
    line[1].Plug(slow);
    auto options = line.Options();
    options.maxJobs = 3;
    ContinuousRunner runner(std::move(options));
    int phase = 0;
    RunScript(runner, [&] {
        if (phase == 0 && line[0].handset()->RequestCount() >= 6) {
            line[0].Unplug();  // mid-transfer
            phase = 1;
        } else if (phase == 1 && runner.Socket(0).failed == 1) {
            // At once: the vanished port told the runner that its handset left.
            EXPECT_EQ(runner.Socket(0).state, SocketState::Empty);
            EXPECT_EQ(runner.Socket(1).state, SocketState::Running) << "socket 1 was held up";
            line[0].Plug();
            phase = 2;
        }
        return true;  // maxJobs ends the run
    });
    const auto jobs = line.Jobs();
    ASSERT_EQ(jobs.size(), 3u);
    int failed = 0;
    for (const ContinuousJob& job : jobs) {
        if (!job.ok) {
            ++failed;
            EXPECT_EQ(job.channel, 0);
            EXPECT_TRUE(job.removed);
            EXPECT_TRUE(StartsWith(job.text, "ERR: ")) << job.text;
        }
    }
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(runner.Socket(0).done, 1);
    EXPECT_EQ(runner.Socket(1).done, 1);
    // The fresh handset got a whole job of its own, from the unlock on.
    const auto log = SettledLog(*line[0].handset());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(NameOf(log.front()), "UNLOCK");
    EXPECT_TRUE(VerifyChannel(*line[0].handset(), 0).ok);
    EXPECT_EQ(runner.Run(), 0) << "a failed job makes the result 0";
}

// A handset whose device is gone before its line says so (the presence check sees it first)
// left, as one whose line broke first did: its job fails as the port gone, never as a job the
// operator stopped, which would say nothing of the socket.
TEST(ContinuousRunner, AHandsetSeenGoneBeforeItsLineBreaksFailsAsThePortGone) {
    JobGuard guard;
    ProductionLine line(1, 12 * 16384);
    SimOptions slow;
    slow.programLatencyPerBlock = 30ms;
    line[0].Plug(slow);
    auto options = line.Options();
    options.maxJobs = 1;
    std::atomic<bool> gone{false};
    options.present = [&](int) { return !gone.load(); };
    JobOutcome outcome;
    auto recordJob = options.onJobEnd;
    options.onJobEnd = [&](const ContinuousJob& job) {
        outcome = OUTCOME_Get(job.channel);
        recordJob(job);
    };
    ContinuousRunner runner(std::move(options));
    RunScript(runner, [&] {
        if (line[0].handset()->RequestCount() >= 6) gone = true;  // its line still works
        return true;
    });
    const auto jobs = line.Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_FALSE(jobs[0].ok);
    EXPECT_TRUE(jobs[0].removed);
    EXPECT_EQ(std::string(OUTCOME_ReasonName(outcome.reason)), "port gone") << outcome.detail;
}

TEST(ContinuousRunner, FirstStopLetsRunningJobsFinishAndTakesNoNewHandset) {
    JobGuard guard;
    ProductionLine line(2, 8 * 16384);
    SimOptions slow;
    slow.programLatencyPerBlock = 20ms;
    line[0].Plug(slow);
    ContinuousRunner runner(line.Options());
    bool asked = false;
    runner.Run([&](std::chrono::milliseconds) {
        std::this_thread::sleep_for(1ms);
        if (!asked && line[0].handset()->RequestCount() >= 4) {
            runner.RequestStop();
            line[1].Plug();  // arrives after the stop: never flashed
            asked = true;
        }
    });
    const auto jobs = line.Jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(jobs[0].ok) << jobs[0].text;
    EXPECT_EQ(line[1].handset()->RequestCount(), 0u);
    EXPECT_EQ(g_nComPort[0].load(), 0);
    EXPECT_FALSE(g_hSerialDevice.IsOpen(0));
}

TEST(ContinuousRunner, SecondStopEndsTheRunningJobsAtOnce) {
    JobGuard guard;
    ProductionLine line(3, 40 * 16384);
    SimOptions slow;
    slow.programLatencyPerBlock = 50ms;  // two seconds a job unless stopped
    for (int i = 0; i < 3; ++i) line[i].Plug(slow);
    ContinuousRunner runner(line.Options());
    Clock::time_point abortAt;
    int asked = 0;
    const int result = runner.Run([&](std::chrono::milliseconds) {
        std::this_thread::sleep_for(1ms);
        if (asked == 0 && line[2].handset()->RequestCount() >= 5) {
            runner.RequestStop();
            asked = 1;
        } else if (asked == 1) {
            runner.RequestAbort();
            abortAt = Clock::now();
            asked = 2;
        }
    });
    const auto took = Clock::now() - abortAt;
    EXPECT_EQ(result, 0);
    const auto jobs = line.Jobs();
    ASSERT_EQ(jobs.size(), 3u);
    for (const ContinuousJob& job : jobs) EXPECT_FALSE(job.ok);
    EXPECT_LT(took, 1500ms) << "the jobs were not stopped";
    for (int ch = 0; ch < 3; ++ch) ExpectChannelEnded(ch, 0);
}

namespace {

int EntryCount(const char* folder) {
    int n = 0;
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) return -1;
    while (dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.') ++n;
    ::closedir(dir);
    return n;
}

long long HeapInUse() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
#else
    return -1;
#endif
}

// Runs `handsets` jobs through eight sockets, each finished handset swapped for a fresh one.
void Shift(ProductionLine& line, int handsets) {
    auto options = line.Options();
    options.maxJobs = handsets;
    // Keep no record of messages or jobs: its growth is not the station's.
    options.target = nullptr;
    options.onJobEnd = {};
    ContinuousRunner runner(std::move(options));
    for (int i = 0; i < kChannels; ++i) line[i].Plug();
    RunScript(runner, [&] {
        // Out, then (once the runner saw the socket empty) a fresh one in.
        for (int i = 0; i < kChannels; ++i) {
            const SocketState state = runner.Socket(i).state;
            if (state == SocketState::Finished) line[i].Unplug();
            if (state == SocketState::Empty && line[i].handset() == nullptr) line[i].Plug();
        }
        return true;
    });
    for (int i = 0; i < kChannels; ++i) line[i].Unplug();
    const ContinuousTotals totals = runner.Totals();
    EXPECT_EQ(totals.done, handsets);
    EXPECT_EQ(totals.failed, 0);
}

}  // namespace

TEST(ContinuousRunner, SoakOfTwoHundredHandsetsThroughEightSocketsGrowsNothing) {
    JobGuard guard;
    ProductionLine line(kChannels, 16384 + 10);
    Shift(line, 24);  // warm up: every socket, allocator arenas, the port table
    const int fds = EntryCount("/proc/self/fd");
    const int threads = EntryCount("/proc/self/task");
    const long long heap = HeapInUse();
    Shift(line, 200);
    std::printf(
        "production soak: 200 handsets; descriptors %d -> %d, threads %d -> %d, heap in "
        "use %lld -> %lld bytes\n",
        fds, EntryCount("/proc/self/fd"), threads, EntryCount("/proc/self/task"), heap,
        HeapInUse());
    EXPECT_EQ(EntryCount("/proc/self/fd"), fds);
    EXPECT_EQ(EntryCount("/proc/self/task"), threads);
    if (heap > 0) {
        EXPECT_LT(HeapInUse() - heap, 256 * 1024) << "the heap grew";
    }
}

}  // namespace jobs_test
