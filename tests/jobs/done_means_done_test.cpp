// A channel is reported done only when the handset has acknowledged every frame that carried
// data after its last sending, and took CLOSE and GO: the real channel job over a
// pseudo-terminal against a simulated handset that can hold one reply back and write it
// together with the next (two "send that again" replies read at once).
#include <gtest/gtest.h>

#include "jobs/download_plan.h"
#include "jobs/job_test_util.h"
#include "link/flash_downloader.h"

using namespace jobs_test;

namespace {

// A resource image of four blocks, flashed alone.
void FillResource(const TempDir& dir) {
    ASSERT_TRUE(WriteBytes(dir.File("rsc.bin"), Pattern(4 * kBlockSize - 10, 21)));
    SETTINGS_CopyText(g_szEtc2File, dir.File("rsc.bin"));
    DownloadControls c;
    c.resourceChecked = true;
    c.resourceAddressText = "0";
    ASSERT_EQ(PELOR_FillImages(c, nullptr), DOWNLOAD_READY);
}

// The code folder without the boot chain: WRITE 1 is the partition table, 2 the AMSS header,
// 3 onwards the AMSS.
void FillCode(const TempDir& dir) {
    FillSmallCode(dir, 8);
}

struct Outcome {
    std::string text;
    int result = -1;
    bool verified = false;
    bool started = false;  // the handset took GO
    std::size_t requests = 0;
    std::chrono::milliseconds took{0};
};

Outcome FlashOne(const char* faults) {
    constexpr int kCh = 3;
    Line line = PtyLine(faults[0] != '\0' ? WithFaults(faults) : SimOptions{});
    Ports ports{};
    ports[kCh] = line.port;
    Recorder rec;
    Outcome o;
    o.took = RunChannels(rec, ports);
    o.text = rec.LastText(kCh);
    o.result = g_nChannelResult[kCh].load();
    o.verified = VerifyChannel(*line, kCh).ok;
    o.started = line->Started();
    o.requests = SettledLog(*line).size();
    EXPECT_EQ(g_nComPort[kCh].load(), 0);
    if (o.result == 1) {
        EXPECT_EQ(FLASH_DOWNLOADER_Unconfirmed(kCh), 0) << faults;
    }
    return o;
}

}  // namespace

TEST(DoneMeansDone, TwoResendsReadAtOnceAtTheResourceTailAreBothSentAgain) {
    JobGuard guard;
    TempDir dir;
    FillResource(dir);
    const Outcome o = FlashOne("nak-resend:FS_WRITE:3,hold:FS_WRITE:3,nak-resend:FS_WRITE:4");
    EXPECT_TRUE(StartsWith(o.text, "Download Complete! [")) << o.text;
    EXPECT_EQ(o.result, 1);
    EXPECT_TRUE(o.verified) << "both blocks reached the flash";
    EXPECT_EQ(o.requests, 12u) << "UNLOCK VERSION FS_FORMAT ERASE FS_WRITE*(4+2) CLOSE GO";
    EXPECT_LT(o.took, std::chrono::seconds(5)) << "no stall";
}

TEST(DoneMeansDone, TwoResendsReadAtOnceInTheMiddleOfTheAmssAreBothSentAgain) {
    JobGuard guard;
    TempDir dir;
    FillCode(dir);
    const Outcome o = FlashOne("nak-resend:WRITE:4,hold:WRITE:4,nak-resend:WRITE:5");
    EXPECT_TRUE(StartsWith(o.text, "Download Complete! [")) << o.text;
    EXPECT_EQ(o.result, 1);
    EXPECT_TRUE(o.verified);
    EXPECT_LT(o.took, std::chrono::seconds(5)) << "no stall";
}

TEST(DoneMeansDone, AHandsetThatRefusesGoOrCloseIsNotDone) {
    JobGuard guard;
    TempDir dir;
    FillResource(dir);
    const Outcome go = FlashOne("refuse:GO");
    EXPECT_EQ(go.text, "ERR: Go");
    EXPECT_EQ(go.result, 0);
    EXPECT_EQ(g_nGoAnswered[3].load(), 1);
    const Outcome close = FlashOne("refuse:CLOSE");
    EXPECT_EQ(close.text, "ERR: Close");
    EXPECT_EQ(close.result, 0);
    EXPECT_TRUE(close.started) << "GO still goes out after a refused CLOSE: the handset restarts";
}

TEST(DoneMeansDone, AGoThatIsNeverAnsweredStaysASuccessAndIsReportedSo) {
    JobGuard guard;
    SERIAL_PORT_SetPassWait(&ScaledPass);  // the 3000-pass grace in a fraction of the time
    TempDir dir;
    FillResource(dir);
    const Outcome o = FlashOne("drop:GO");
    EXPECT_TRUE(StartsWith(o.text, "Download Complete! [")) << o.text;
    EXPECT_EQ(o.result, 1);
    EXPECT_TRUE(o.verified);
    EXPECT_EQ(g_nGoAnswered[3].load(), 0);
    const Outcome healthy = FlashOne("");
    EXPECT_EQ(healthy.result, 1);
    EXPECT_EQ(g_nGoAnswered[3].load(), 1);
}
