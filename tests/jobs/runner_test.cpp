// The multi-channel runner: channels that fail beside channels that succeed, a worker that
// cannot start, a stop without a start, the image table operations and address texts, and a
// device removal racing a transfer.
#include <gtest/gtest.h>

#include <algorithm>

#include "jobs/download_plan.h"
#include "jobs/job_test_util.h"

using namespace jobs_test;

namespace {

bool Cleared(const IMAGE_ENTRY& e) {
    return e.nSlot == -1 && e.szPath[0] == '\0' && e.dwAddress == 0xFFFFFFFFu;
}

}  // namespace

TEST(Runner, ChannelsThatCannotOpenFailWhileTheOthersFinish) {
    JobGuard guard;
    TempDir dir;
    FillSmallCode(dir);
    Line first = LoopLine();
    Line second = LoopLine();
    Ports ports{};
    ports[0] = first.port;
    ports[1] = AbsentPort("runner");
    ports[2] = second.port;
    ports[5] = PORTTABLE_Assign("loop:pelor-jobs-never-created");
    Recorder rec;
    RunChannels(rec, ports);

    for (int ch : {0, 2}) {
        const SimVerifyReport report = VerifyChannel(ch == 0 ? *first : *second, ch);
        EXPECT_TRUE(report.ok) << "channel " << ch << ": " << report.text;
        ExpectChannelEnded(ch, 1);
    }
    for (int ch : {1, 5}) {
        EXPECT_EQ(rec.LastText(ch), "ERR: Open") << "channel " << ch;
        ExpectChannelEnded(ch, 0);
    }
    auto station = rec.StationTexts();
    std::sort(station.begin(), station.end());
    std::vector<std::string> expected = {
        "SERIAL_DEVICE_Open(COM" + std::to_string(ports[1]) + ") Failed!",
        "SERIAL_DEVICE_Open(COM" + std::to_string(ports[5]) + ") Failed!"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(station, expected);
    // Channels without a port take no part at all.
    for (int ch : {3, 4, 6, 7}) {
        EXPECT_TRUE(rec.Texts(ch).empty()) << "channel " << ch;
        EXPECT_EQ(g_nChannelResult[ch].load(), 0);
    }
}

TEST(Runner, WorkerThatCannotStartIsReportedAndTheRunStillEnds) {
    JobGuard guard;
    TempDir dir;
    FillSmallCode(dir);
    PELOR_SetWorkerStarter([](std::thread& thread, int ch, const std::function<void()>& job) {
        if (ch == 1) return false;
        thread = std::thread(job);
        return true;
    });
    Line running = LoopLine();
    Line unused = LoopLine();
    Ports ports{};
    ports[0] = running.port;
    ports[1] = unused.port;
    Recorder rec;
    const auto took = RunChannels(rec, ports);

    EXPECT_EQ(rec.Texts(1), (std::vector<std::string>{"ERR: Thread"}));
    ExpectChannelEnded(1, 0);
    EXPECT_EQ(unused->RequestCount(), 0u);
    EXPECT_TRUE(VerifyChannel(*running, 0).ok);
    ExpectChannelEnded(0, 1);
    EXPECT_LT(took, std::chrono::seconds(5));
}

TEST(Runner, StopWithoutStartIsHarmlessAndAStoppedRunReportsNothing) {
    JobGuard guard;
    EXPECT_EQ(PELOR_Stop(), 1);
    EXPECT_EQ(PELOR_Stop(), 1);
    EXPECT_EQ(guard.station().notifyTarget.load(), nullptr);

    Recorder rec;
    Ports ports{};
    ports[2] = AbsentPort("stop");
    ASSERT_EQ(PELOR_Start(&rec, WM_DOWNLOAD_STATUS, ports, kBaud), 1);
    EXPECT_EQ(g_bChannelActive[2].load(), 1);
    EXPECT_EQ(g_bChannelActive[3].load(), 0);
    EXPECT_EQ(PELOR_Stop(), 1);
    EXPECT_EQ(g_bChannelActive[2].load(), 0);
    EXPECT_EQ(guard.station().notifyTarget.load(), nullptr);
    EXPECT_EQ(guard.station().notifyMessage.load(), 0u);
    STATUS_ChannelPrintf(2, "after the stop");
    EXPECT_TRUE(rec.Texts(2).empty());
}

TEST(Runner, SetImageOutsideTheSlotsWritesNothingAndInsideWritesEveryChannel) {
    JobGuard guard;
    PELOR_ClearImages();
    EXPECT_EQ(PELOR_SetImage(14, "x.mbn", "10"), -1);
    EXPECT_EQ(PELOR_SetImage(-1, "x.mbn", "10"), -1);
    for (int ch = 0; ch < kChannels; ++ch) {
        for (const IMAGE_ENTRY& e : g_ImageTable[ch]) EXPECT_TRUE(Cleared(e));
    }
    EXPECT_EQ(PELOR_SetImage(13, "rsc.bin", "1400000"), 13);
    for (int ch = 0; ch < kChannels; ++ch) {
        const auto& channel = g_ImageTable[ch];
        EXPECT_EQ(channel[13].nSlot, 13);
        EXPECT_STREQ(channel[13].szPath, "rsc.bin");
        EXPECT_EQ(channel[13].dwAddress, 0x1400000u);
        EXPECT_TRUE(Cleared(channel[12]));
    }
}

TEST(Runner, AddressTextsAreReadAsHexadecimal) {
    struct Case {
        const char* text;
        std::uint32_t value;
    };
    for (const Case& c : {Case{"70000", 458752}, Case{"1400000", 20971520}, Case{" 0x1A", 26},
                          Case{"18000", 0x18000}, Case{"abcDEF", 0xABCDEF}, Case{"", 0},
                          Case{"zz", 0}, Case{"12zz", 0x12}}) {
        EXPECT_EQ(PELOR_ParseAddress(c.text), c.value) << '"' << c.text << '"';
    }
}

// A device removal while a channel streams: the window closes the channel from its own thread
// at whatever moment the removal arrives. The job must end at once with a failure, whatever it
// was doing, and nothing may be touched after it is gone.
TEST(ChannelRemoval, ClosingAChannelInTheMiddleOfAStreamEndsItsJobPromptly) {
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("amss.mbn"), Pattern(2 * 1024 * 1024, 11)));
    constexpr int kCh = 4;
    const struct {
        std::size_t requests;
        int extraMicros;
    } timings[] = {{5, 0}, {12, 300}, {40, 0}, {70, 1500}};
    for (const auto& t : timings) {
        SCOPED_TRACE(t.requests);
        JobGuard guard;
        PELOR_SetImage(12, dir.File("amss.mbn").c_str(), "0");
        Line line = PtyLine();
        ASSERT_TRUE(line.handset);
        Ports ports{};
        ports[kCh] = line.port;
        Recorder rec;
        bool closed = false;
        Clock::time_point closedAt{};
        RunChannels(rec, ports, [&](std::chrono::milliseconds interval) {
            if (closed) {
                std::this_thread::sleep_for(interval);
                return;
            }
            if (line->WaitForRequests(t.requests, interval) == 1) {
                std::this_thread::sleep_for(std::chrono::microseconds(t.extraMicros));
                closedAt = Clock::now();
                PELOR_CloseChannel(kCh);
                closed = true;
            }
        });
        // From the close on: the stream before it takes what the machine gives it.
        const auto took = Clock::now() - closedAt;

        EXPECT_TRUE(closed);
        EXPECT_TRUE(StartsWith(rec.LastText(kCh), "ERR: [")) << rec.LastText(kCh);
        EXPECT_EQ(line->GoCount(), 0);
        ExpectChannelEnded(kCh, 0);
        EXPECT_LT(took, std::chrono::seconds(5));
    }
}
