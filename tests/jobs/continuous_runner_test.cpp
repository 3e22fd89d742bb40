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

    // serial: the USB serial number the station reads for the handset (empty: none).
    SimHandset& Plug(SimOptions options = {}, std::string serial = {}) {
        Unplug();
        {
            std::lock_guard lock(serialLock_);
            serial_ = std::move(serial);
        }
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
    std::string Serial() const {
        std::lock_guard lock(serialLock_);
        return handset_ ? serial_ : std::string();
    }

private:
    mutable std::mutex serialLock_;
    std::string serial_;
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
        o.serial = [this](int ch) {
            return ch < static_cast<int>(sockets_.size()) ? sockets_[ch]->Serial() : std::string();
        };
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

// In production mode each job is a run of its own: a partition image missing for one handset
// does not silence the partition alert of the next, although the runner never starts again.
TEST(ContinuousRunner, AFileMissingForOneHandsetDoesNotSilenceTheNextOnesPartitionAlert) {
    JobGuard guard;
    ProductionLine line(1);
    TempDir dir;
    const std::string partition = dir.File("partition.mbn");  // not there for the first job
    ASSERT_EQ(PELOR_SetImage(5, partition.c_str(), "0"), 5);
    line[0].Plug();
    ContinuousRunner runner(line.Options());
    int phase = 0;
    RunScript(runner, [&] {
        const std::size_t jobs = line.Jobs().size();
        if (phase == 0 && jobs == 1) {
            line[0].Unplug();
            WriteBytes(partition, Pattern(100, 3));
            phase = 1;
        } else if (phase == 1 && runner.Socket(0).state == SocketState::Empty) {
            line[0].Plug(WithFaults("refuse:END_IMAGE:1"));
            phase = 2;
        }
        return jobs < 2;
    });
    const auto jobs = line.Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].text, "ERR: No File");
    EXPECT_EQ(jobs[1].text, "ERR: End Image");
    EXPECT_EQ(
        line.recorder.Alerts(0),
        (std::vector<std::string>{"Partition is changed! Erase All NAND and download again!"}));
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

namespace {

// Real passes, counted 20 times over (a silent handset's unlock gives up in a fraction of a
// second), and a tick the test moves: the settle time passes only when the test says so.
class SettleClock final : public StationClock {
public:
    std::int64_t WaitPass(int channel, std::int64_t maxMicros) override {
        return ScaledPass(channel, maxMicros);
    }
    void Pause(int channel, int milliseconds) override {
        STATION_RealClock().Pause(channel, milliseconds);
    }
    std::uint32_t TickMs() override { return tick.load(); }
    std::atomic<std::uint32_t> tick{5000};
};

Environment SettleEnvironment(SettleClock& clock) {
    Environment env = TestEnvironment();
    env.clock = &clock;
    return env;
}

enum class Back { Silent, NotInDownloadMode, InDownloadMode };

SimOptions BackOptions(Back back) {
    switch (back) {
        case Back::Silent:
            return WithFaults("silent");
        case Back::NotInDownloadMode:
            return WithFaults("refuse");  // answers, but takes no request
        case Back::InDownloadMode:
        default:
            return {};
    }
}

}  // namespace

// A handset restarts on GO: its port goes and comes back on the same socket. The same handset
// is neither flashed again nor counted; a new one is flashed, whether or not the system gives
// serial numbers, and the settle time bounds how long a silent returning port is taken for the
// handset restarting.
TEST(ContinuousRunner, AHandsetBackAfterGoIsNotFlashedAgainNorCountedButANewOneIs) {
    struct Case {
        const char* what;
        const char* firstSerial;
        const char* backSerial;
        Back back;
        bool afterSettle;
        bool flashed;  // the handset back on the socket got a job that counts
        bool ok;
        const char* firstFaults = "";  // what the first handset does besides its job
        bool firstFails = false;
    };
    const Case cases[] = {
        {"same serial, restarted", "SN01", "SN01", Back::NotInDownloadMode, false, false, false},
        {"same serial, still in download mode", "SN01", "SN01", Back::InDownloadMode, false, false,
         false},
        {"another serial", "SN01", "SN02", Back::InDownloadMode, false, true, true},
        {"no serial, silent", "", "", Back::Silent, false, false, false},
        {"no serial, not in download mode", "", "", Back::NotInDownloadMode, false, false, false},
        {"no serial, a new handset", "", "", Back::InDownloadMode, false, true, true},
        {"serial lost on the way back", "SN01", "", Back::Silent, false, false, false},
        {"no serial, silent after the settle time", "", "", Back::Silent, true, true, false},
        // It leaves at GO, before its job has ended: it is back all the same.
        {"same serial, gone at GO", "SN01", "SN01", Back::NotInDownloadMode, false, false, false,
         "unplug:GO:1"},
        {"no serial, back after a failed job", "", "", Back::Silent, false, false, false,
         "refuse:FS_FORMAT:1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SettleClock clock;
        JobGuard guard(SettleEnvironment(clock));
        ProductionLine line(1);
        auto options = line.Options();
        options.settle = 10s;
        ContinuousRunner runner(std::move(options));
        line[0].Plug(*c.firstFaults != '\0' ? WithFaults(c.firstFaults) : SimOptions{},
                     c.firstSerial);
        int phase = 0;
        int quiet = 0;
        RunScript(runner, [&] {
            const SocketSnapshot socket = runner.Socket(0);
            const std::size_t jobs = line.Jobs().size();
            if (phase == 0 && jobs == 1) {
                line[0].Unplug();  // it restarts on GO
                phase = 1;
            } else if (phase == 1 && socket.state == SocketState::Empty) {
                if (c.afterSettle) clock.tick += 10001;
                line[0].Plug(BackOptions(c.back), c.backSerial);
                phase = 2;
            } else if (phase == 2 && socket.state == SocketState::Finished &&
                       jobs + socket.restarts == 2) {
                phase = 3;
            }
            // Some looks more: nothing else starts.
            return phase < 3 || ++quiet < 50;
        });
        const auto jobs = line.Jobs();
        ASSERT_EQ(jobs.size(), c.flashed ? 2u : 1u);
        const bool firstOk = !c.firstFails;
        EXPECT_EQ(jobs[0].ok, firstOk) << jobs[0].text;
        const SocketSnapshot socket = runner.Socket(0);
        EXPECT_EQ(socket.restarts, c.flashed ? 0 : 1);
        EXPECT_EQ(socket.done, (firstOk ? 1 : 0) + (c.flashed && c.ok ? 1 : 0));
        EXPECT_EQ(socket.failed, (firstOk ? 0 : 1) + (c.flashed && !c.ok ? 1 : 0));
        EXPECT_EQ(runner.Totals().restarts, socket.restarts);
        const auto log = SettledLog(*line[0].handset());
        if (c.flashed) {
            EXPECT_EQ(jobs[1].ok, c.ok) << jobs[1].text;
            if (c.ok) {
                EXPECT_TRUE(VerifyChannel(*line[0].handset(), 0).ok);
            }
        } else {
            // Not flashed again: with a serial number not even asked; the socket still shows
            // the job's result, and the check's texts were never shown.
            if (*c.backSerial != '\0') {
                EXPECT_TRUE(log.empty()) << Sequence(log);
            }
            EXPECT_EQ(Count(log, CMD_WRITE), 0) << Sequence(log);
            EXPECT_EQ(line[0].handset()->GoCount(), 0);
            EXPECT_EQ(line.recorder.LastText(0), jobs[0].text);
            EXPECT_EQ(socket.lastOk, firstOk);
        }
    }
}

// After a restart was recognised, the operator's next handset on that socket is a job again.
TEST(ContinuousRunner, TheHandsetAfterARestartedOneIsFlashed) {
    SettleClock clock;
    JobGuard guard(SettleEnvironment(clock));
    ProductionLine line(1);
    ContinuousRunner runner(line.Options());
    line[0].Plug({}, "SN01");
    int phase = 0;
    RunScript(runner, [&] {
        const SocketSnapshot socket = runner.Socket(0);
        if (phase == 0 && line.Jobs().size() == 1) {
            line[0].Unplug();
            phase = 1;
        } else if (phase == 1 && socket.state == SocketState::Empty) {
            line[0].Plug(WithFaults("silent"), "SN01");
            phase = 2;
        } else if (phase == 2 && socket.restarts == 1) {
            line[0].Unplug();  // the operator takes it
            phase = 3;
        } else if (phase == 3 && socket.state == SocketState::Empty) {
            line[0].Plug({}, "SN03");  // inside the settle time still
            phase = 4;
        }
        return line.Jobs().size() < 2;
    });
    const auto jobs = line.Jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_TRUE(jobs[1].ok) << jobs[1].text;
    EXPECT_TRUE(VerifyChannel(*line[0].handset(), 0).ok);
    EXPECT_EQ(runner.Socket(0).done, 2);
}

// The operator swaps a finished handset for a new one in 20 ms, well inside the runner's look
// of 100 ms: the new handset is flashed, told either by the system's removal event or, where
// none comes, by the look finding another device there.
TEST(ContinuousRunner, ASwapQuickerThanALookIsSeenByTheEventOrByTheLook) {
    for (const bool byEvent : {false, true}) {
        SCOPED_TRACE(byEvent ? "the system's event" : "the look");
        JobGuard guard;
        ProductionLine line(1);
        auto options = line.Options();
        options.poll = 100ms;
        if (byEvent) {
            // Presence only: the look alone cannot tell one handset from the next.
            const std::string name = line[0].Device().substr(5);
            options.present = [name](int) { return LOOPBACK_Exists(name); };
        }
        ContinuousRunner runner(std::move(options));
        line[0].Plug({}, "SN01");
        bool swapped = false;
        int passes = 0;
        runner.Run([&](std::chrono::milliseconds interval) {
            std::this_thread::sleep_for(interval);
            if (++passes > 300) {
                ADD_FAILURE() << "the new handset was never flashed";
                runner.RequestAbort();
            } else if (!swapped && runner.Socket(0).state == SocketState::Finished) {
                line[0].Unplug();
                if (byEvent) runner.DeviceLeft(0);
                std::this_thread::sleep_for(20ms);
                line[0].Plug({}, "SN02");
                swapped = true;
            } else if (line.Jobs().size() == 2) {
                runner.RequestStop();
            }
        });
        const auto jobs = line.Jobs();
        ASSERT_EQ(jobs.size(), 2u);
        EXPECT_TRUE(jobs[1].ok) << jobs[1].text;
        EXPECT_TRUE(VerifyChannel(*line[0].handset(), 0).ok);
        EXPECT_EQ(line[0].handset()->GoCount(), 1);
    }
}

}  // namespace jobs_test
