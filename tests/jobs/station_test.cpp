// Stations as objects: two side by side in one process, each with its own channels, handsets,
// results and reports; the calling thread's station is the one the names work on.
#include <gtest/gtest.h>

#include <thread>

#include "jobs/download_plan.h"
#include "jobs/job_test_util.h"
#include "link/outcome.h"

using namespace jobs_test;

// The same channel of two stations flashes two handsets at once: one succeeds, the other's
// handset refuses a block; neither sees the other's texts, result, outcome or frames.
TEST(Station, TwoStationsSideBySideRunTheSameChannelWithoutTouchingEachOther) {
    JobGuard settings;  // the settings and a station for this thread
    TempDir dir;
    Station good(TestEnvironment());
    Station refused(TestEnvironment());
    {
        // The settings are the process's; each station's image table is its own.
        StationScope scope(good);
        FillSmallCode(dir);
    }
    {
        StationScope scope(refused);
        FillSmallCode(dir);
        // A table filled in one station is not seen by another.
        EXPECT_STREQ(g_ImageTable[0][kAmssSlot].szPath,
                     good.links().channel(0).images[kAmssSlot].szPath);
    }
    EXPECT_EQ(g_ImageTable[0][kAmssSlot].szPath[0], '\0');

    constexpr int kCh = 0;
    Line lineA = LoopLine();
    Line lineB = LoopLine(WithFaults("refuse:WRITE:2"));
    Recorder recA;
    Recorder recB;
    auto run = [&](Station& station, Recorder& rec, int port) {
        StationScope scope(station);
        Ports ports{};
        ports[kCh] = port;
        RunChannels(rec, ports);
    };
    std::thread a(run, std::ref(good), std::ref(recA), lineA.port);
    std::thread b(run, std::ref(refused), std::ref(recB), lineB.port);
    a.join();
    b.join();

    EXPECT_EQ(good.channel(kCh).job.result.load(), 1);
    EXPECT_EQ(refused.channel(kCh).job.result.load(), 0);
    EXPECT_EQ(good.channel(kCh).job.goAnswered.load(), 1);
    EXPECT_EQ(refused.channel(kCh).job.goAnswered.load(), -1);
    EXPECT_FALSE(good.channel(kCh).link.outcome.Failed());
    EXPECT_TRUE(refused.channel(kCh).link.outcome.Failed());
    EXPECT_EQ(refused.channel(kCh).link.outcome.reason, JobReason::Refused);
    EXPECT_EQ(recA.LastText(kCh), "Download Complete! [0 sec]");
    EXPECT_NE(recB.LastText(kCh), "Download Complete! [0 sec]");
    for (const std::string& text : recA.Texts(kCh)) EXPECT_NE(text.rfind("ERR", 0), 0u) << text;
    EXPECT_EQ(good.channel(kCh).port.comPort.load(), 0);
    EXPECT_EQ(refused.channel(kCh).port.comPort.load(), 0);
    EXPECT_FALSE(good.channel(kCh).port.Handle());
    {
        StationScope scope(good);
        const SimVerifyReport report = VerifyChannel(*lineA, kCh);
        EXPECT_TRUE(report.ok) << report.text;
    }
    // The thread's own station took no part.
    EXPECT_EQ(g_nChannelResult[kCh].load(), 0);
    EXPECT_EQ(settings.station().channel(kCh).link.fn.sentCount, 0);
}

// A worker runs bound to the station that started it, whatever the starting thread had bound
// afterwards; a scope restores what was bound before it.
TEST(Station, WorkersAndScopesResolveToTheirOwnStation) {
    JobGuard guard;
    Station other(TestEnvironment());
    std::atomic<Station*> seen{nullptr};
    std::atomic<int> port{-1};
    other.channel(3).port.comPort = 7;
    std::thread worker;
    ASSERT_TRUE(other.StartWorker(worker, 3, [&] {
        seen = &STATION_Current();
        port = g_nComPort[3].load();
    }));
    worker.join();
    EXPECT_EQ(seen.load(), &other);
    EXPECT_EQ(port.load(), 7);

    EXPECT_EQ(&STATION_Current(), &guard.station());
    {
        StationScope scope(other);
        EXPECT_EQ(&STATION_Current(), &other);
        EXPECT_EQ(&SERIAL_PORT_Station(), &other.ports());
        EXPECT_EQ(&LINK_Station(), &other.links());
        EXPECT_EQ(g_nComPort[3].load(), 7);
    }
    EXPECT_EQ(&STATION_Current(), &guard.station());
    EXPECT_EQ(g_nComPort[3].load(), 0);
}

// The environment given at construction is what the channels run with: no write pause, the
// injected tick in the completion text, the reporter given.
TEST(Station, TheEnvironmentGivenAtConstructionIsWhatTheChannelsUse) {
    class Texts final : public StatusReporter {
    public:
        void ChannelText(int channel, const char* text) override {
            std::lock_guard lock(mu);
            texts.push_back(std::to_string(channel) + ":" + text);
        }
        void Progress(const IMAGE_ENTRY&) override {}
        std::mutex mu;
        std::vector<std::string> texts;
    } reporter;
    Environment env = TestEnvironment();
    env.reporter = &reporter;
    env.format = 0;
    env.delayMs = 5;
    Station station(std::move(env));
    StationScope scope(station);
    EXPECT_EQ(SERIAL_PORT_WriteDelay(), 5);
    EXPECT_EQ(LINK_Format(), 0);
    EXPECT_STREQ(JOB_SlotText(kResourceSlot), "ORL4 Init");
    LINK_ChannelPrintf(2, "Init %s", "AMSS");
    EXPECT_EQ(reporter.texts, (std::vector<std::string>{"2:Init AMSS"}));
}
