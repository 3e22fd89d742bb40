// Eight channels at once, each against a handset with a different fault: every channel ends in
// its own text and result, the healthy ones verify, none waits on another, and nothing of the
// station is left open afterwards.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "jobs/download_plan.h"
#include "jobs/job_test_util.h"
#include "link/flash_downloader.h"
#include "link/outcome.h"

namespace jobs_test {
namespace {

// Open descriptors of this process, and how many of them are pseudo-terminals.
struct Descriptors {
    int count = 0;
    int ptys = 0;
};

Descriptors OpenDescriptors() {
    Descriptors d;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return d;
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        ++d.count;
        char target[256] = {};
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && (StartsWith(target, "/dev/pts/") || StartsWith(target, "/dev/ptmx"))) ++d.ptys;
    }
    ::closedir(dir);
    return d;
}

int Threads() {
    int n = 0;
    DIR* dir = ::opendir("/proc/self/task");
    if (dir == nullptr) return -1;
    while (dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.') ++n;
    ::closedir(dir);
    return n;
}

}  // namespace

TEST(FaultMatrix, EveryChannelEndsInItsOwnTextAndNoneWaitsOnAnother) {
    // The channels' wake-up signals live as long as the process; make them before counting.
    for (int ch = 0; ch < kChannels; ++ch) SERIAL_PORT_ClearWake(ch);
    const Descriptors before = OpenDescriptors();
    const int threadsBefore = Threads();
    {
        JobGuard guard;
        TempDir dir;
        CodeSizes sizes;
        sizes.amss = 0x70000 + 40 * kBlockSize + 1234;
        MakeCodeFolder(dir, "matrix", sizes);
        DownloadControls controls;
        controls.codeChecked = true;
        controls.codeAddressText = g_szCodeAddress;
        std::string message;
        ASSERT_EQ(PELOR_FillImages(controls, &message), DOWNLOAD_READY) << message;

        const char* faults[kChannels] = {
            "silent",                     // 0: never answers
            "refuse:VERSION",             // 1: an agent that will not take this station
            "refuse:INIT_AMSS_HEADER:1",  // 2: a selection refused
            // 3: asks for two AMSS blocks again, both answers read at once; two more, the
            // second answer late and so read apart; and CLOSE again
            "nak-resend:WRITE:20,hold:WRITE:20,nak-resend:WRITE:21,"
            "nak-resend:WRITE:30,nak-resend:WRITE:31,latency:WRITE:31:5ms,nak-resend:CLOSE:1",
            "corrupt-crc:WRITE:10",         // 4: a reply spoilt on the line
            "garbage:any:every,refuse:GO",  // 5: noise between replies; the image refused
            "unplug:WRITE:15",              // 6: cable pulled in the middle of the AMSS
            "",                             // 7: healthy
        };
        std::vector<Line> lines;
        Ports ports{};
        for (int ch = 0; ch < kChannels; ++ch) {
            lines.push_back(PtyLine(faults[ch][0] != '\0' ? WithFaults(faults[ch]) : SimOptions{}));
            ports[ch] = lines.back().port;
        }
        Recorder recorder;
        std::array<double, kChannels> endedAt{};
        const auto start = Clock::now();
        RunChannels(recorder, ports, [&](std::chrono::milliseconds interval) {
            const double now = std::chrono::duration<double>(Clock::now() - start).count();
            for (int ch = 0; ch < kChannels; ++ch)
                if (endedAt[ch] == 0 && g_nComPort[ch] == 0) endedAt[ch] = now;
            std::this_thread::sleep_for(interval);
        });
        // The last channel ends after the runner's last look.
        const double total = std::chrono::duration<double>(Clock::now() - start).count();
        for (double& t : endedAt)
            if (t == 0) t = total;

        EXPECT_EQ(recorder.LastText(0), "ERR: Unlock");
        EXPECT_EQ(recorder.LastText(1), "Downloader Version Incorrect");
        EXPECT_EQ(recorder.Alerts(1),
                  std::vector<std::string>{"Downloader Version Incorrect !!!!!!"});
        EXPECT_EQ(recorder.LastText(2), "ERR: Init AMSS Header");
        EXPECT_TRUE(StartsWith(recorder.LastText(3), "Download Complete! ["));
        EXPECT_EQ(recorder.LastText(4), "ERR: [0,1]");
        EXPECT_EQ(recorder.LastText(5), "ERR: Go");
        EXPECT_EQ(recorder.LastText(6), "ERR: [1,0]");
        EXPECT_TRUE(StartsWith(recorder.LastText(7), "Download Complete! ["));
        // Each failure names its step and reason, recorded where it happened.
        struct Expected {
            JobStep step;
            JobReason reason;
            int slot;
        };
        const Expected expected[kChannels] = {
            {JobStep::Unlock, JobReason::TimeOut, -1},
            {JobStep::Version, JobReason::Refused, -1},
            {JobStep::Selection, JobReason::Refused, 11},
            {JobStep::None, JobReason::None, -1},
            {JobStep::Block, JobReason::LinkError, 12},
            {JobStep::Go, JobReason::Refused, -1},
            {JobStep::Block, JobReason::PortGone, 12},
            {JobStep::None, JobReason::None, -1},
        };
        for (int ch = 0; ch < kChannels; ++ch) {
            const JobOutcome outcome = OUTCOME_Get(ch);
            EXPECT_EQ(outcome.step, expected[ch].step) << "channel " << ch;
            EXPECT_EQ(outcome.reason, expected[ch].reason)
                << "channel " << ch << ": " << OUTCOME_Describe(outcome);
            EXPECT_EQ(outcome.slot, expected[ch].slot) << "channel " << ch;
            EXPECT_EQ(outcome.refusal >= 0, expected[ch].reason == JobReason::Refused)
                << "channel " << ch;
        }
        for (int ch = 0; ch < kChannels; ++ch) {
            const bool healthy = ch == 3 || ch == 7;
            ExpectChannelEnded(ch, healthy ? 1 : 0);
            // Done means every request that went out was acknowledged after its last sending.
            if (g_nChannelResult[ch] == 1) {
                EXPECT_EQ(FLASH_DOWNLOADER_Unconfirmed(ch), 0) << "channel " << ch;
            }
            if (healthy || ch == 5) {
                EXPECT_TRUE(VerifyChannel(*lines[ch], ch).ok) << "channel " << ch;
                EXPECT_EQ(lines[ch]->Started(), healthy) << "channel " << ch;
            }
        }
        EXPECT_TRUE(lines[2]->Started()) << "CLOSE and GO still go out after a refused step";
        EXPECT_FALSE(lines[0]->Started());
        EXPECT_FALSE(lines[1]->Started());
        // The healthy channels finished in a few seconds while the dead line kept its own
        // channel waiting out its window.
        const double slowest = *std::max_element(endedAt.begin(), endedAt.end());
        for (int ch : {3, 5, 7}) EXPECT_LT(endedAt[ch], 10.0) << "channel " << ch;
        EXPECT_EQ(OfCode(lines[3]->Requests(), CMD_WRITE).size(),
                  OfCode(lines[7]->Requests(), CMD_WRITE).size() + 4)
            << "every block asked for went out again";
        EXPECT_EQ(OfCode(lines[3]->Requests(), CMD_CLOSE).size(), 2u);
        EXPECT_GT(slowest, endedAt[7]);
    }
    const Descriptors after = OpenDescriptors();
    EXPECT_EQ(after.count, before.count) << "descriptors left open";
    EXPECT_EQ(after.ptys, before.ptys) << "pseudo-terminals left open";
    EXPECT_EQ(Threads(), threadsBefore) << "threads left running";
}

}  // namespace jobs_test
