// How a channel's job fails: for each way a download can go wrong, the text it ends with, the
// alerts, whether CLOSE and GO still go out, and that the channel is left closed, finished and
// marked failed. The handset is the simulated one, told which fault to commit.
#include <gtest/gtest.h>

#include <cerrno>

#include "jobs/download_plan.h"
#include "jobs/job_test_util.h"
#include "link/outcome.h"
#include "sim/sim_flash.h"

using namespace jobs_test;

namespace {

constexpr const char* kPartitionAlert = "Partition is changed! Erase All NAND and download again!";

// Fills the tables as a Download of the code folder does.
void FillCode(const TempDir& dir, const CodeSizes& sizes = {}, bool boot = false) {
    MakeCodeFolder(dir, "WZRTAll", sizes);
    g_bChangeBootArea = boot ? 1 : 0;
    const char* address = boot ? "0" : "70000";
    SETTINGS_CopyText(g_szCodeAddress, address);
    DownloadControls c;
    c.codeChecked = true;
    c.codeAddressText = address;
    std::string message;
    ASSERT_EQ(PELOR_FillImages(c, &message), DOWNLOAD_READY) << message;
}

Line RunOne(Recorder& recorder, int ch, SimOptions options,
            std::chrono::milliseconds* took = nullptr) {
    Line line = LoopLine(std::move(options));
    Ports ports{};
    ports[ch] = line.port;
    const auto ms = RunChannels(recorder, ports);
    if (took != nullptr) *took = ms;
    return line;
}

bool EndsWith(const std::string& text, const std::string& ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

}  // namespace

TEST(JobFailure, PortThatWillNotOpenEndsWithErrOpenAndNamesThePort) {
    JobGuard guard;
    TempDir dir;
    FillCode(dir);
    constexpr int kCh = 2;
    const int port = AbsentPort("open");
    Ports ports{};
    ports[kCh] = port;
    Recorder rec;
    RunChannels(rec, ports);

    EXPECT_EQ(rec.Texts(kCh), (std::vector<std::string>{"Download Start", "ERR: Open"}));
    EXPECT_EQ(rec.StationTexts(), (std::vector<std::string>{"SERIAL_DEVICE_Open(COM" +
                                                            std::to_string(port) + ") Failed!"}));
    ExpectChannelEnded(kCh, 0);
    const JobOutcome outcome = OUTCOME_Get(kCh);
    EXPECT_EQ(outcome.step, JobStep::Open);
    EXPECT_EQ(outcome.reason, JobReason::Port);
    EXPECT_EQ(outcome.detail, "no such device");
    EXPECT_EQ(outcome.code, ENOENT);
}

TEST(JobFailure, SilentHandsetFailsTheUnlockAfterItsWaitsWithOneCloseAndNoGo) {
    JobGuard guard;
    SERIAL_PORT_SetPassWait(&InstantPass);
    TempDir dir;
    FillCode(dir);
    constexpr int kCh = 0;
    Recorder rec;
    Line line = RunOne(rec, kCh, WithFaults("silent"));

    EXPECT_EQ(rec.Texts(kCh), (std::vector<std::string>{"Download Start", "ERR: Unlock"}));
    // The unlock exchange's 3000 passes, then the close procedure's 3000.
    EXPECT_EQ(g_instantPasses.load(), 6000);
    ASSERT_EQ(line->WaitForRequests(2, std::chrono::seconds(5)), 1);
    EXPECT_EQ(Sequence(SettledLog(*line)), "UNLOCK CLOSE");
    EXPECT_EQ(line->GoCount(), 0);
    ExpectChannelEnded(kCh, 0);
    EXPECT_EQ(OUTCOME_Describe(OUTCOME_Get(kCh)),
              "unlock: time-out (1 request not acknowledged in time)");
}

TEST(JobFailure, RefusedVersionShowsTheTextAndTheAlertAndSendsNoGo) {
    JobGuard guard;
    TempDir dir;
    FillCode(dir);
    constexpr int kCh = 4;
    Recorder rec;
    Line line = RunOne(rec, kCh, WithFaults("refuse:VERSION:1"));

    EXPECT_EQ(rec.Texts(kCh),
              (std::vector<std::string>{"Download Start", "Downloader Version Incorrect"}));
    EXPECT_EQ(rec.Alerts(kCh), (std::vector<std::string>{"Downloader Version Incorrect !!!!!!"}));
    EXPECT_EQ(Sequence(SettledLog(*line)), "UNLOCK VERSION CLOSE");
    EXPECT_EQ(line->GoCount(), 0);
    ExpectChannelEnded(kCh, 0);
}

TEST(JobFailure, RefusedSelectionStopsAtItsSlotAndStillClosesAndGoes) {
    JobGuard guard;
    TempDir dir;
    CodeSizes sizes;
    sizes.amss = 40000;
    FillCode(dir, sizes, /*boot=*/true);
    constexpr int kCh = 5;
    Recorder rec;
    std::chrono::milliseconds took{};
    Line line = RunOne(rec, kCh, WithFaults("refuse:INIT_PBL:1"), &took);

    // The failed exchange's close procedure, then the job's own, then GO.
    EXPECT_EQ(
        Sequence(SettledLog(*line)),
        "UNLOCK VERSION SECURITY_MODE INIT_PARTITION ERASE WRITE END_IMAGE INIT_PBL CLOSE*2 GO");
    EXPECT_EQ(rec.LastText(kCh), "ERR: Init PBL");
    EXPECT_TRUE(rec.Alerts(kCh).empty());
    const JobOutcome outcome = OUTCOME_Get(kCh);
    EXPECT_EQ(outcome.step, JobStep::Selection);
    EXPECT_EQ(outcome.slot, 6);
    EXPECT_EQ(outcome.reason, JobReason::Refused);
    EXPECT_GE(outcome.refusal, 0);
    EXPECT_EQ(line->GoCount(), 1);
    // The refused request's number holds nothing back: no send waits out its window.
    EXPECT_LT(took, std::chrono::seconds(5));
    ExpectChannelEnded(kCh, 0);
}

TEST(JobFailure, FailingImageEraseEndsWithErrEraseFlash) {
    JobGuard guard;
    TempDir dir;
    FillCode(dir);
    constexpr int kCh = 1;
    Recorder rec;
    Line line = RunOne(rec, kCh, WithFaults("refuse:ERASE:3"));  // the AMSS image's erase

    EXPECT_TRUE(EndsWith(Sequence(SettledLog(*line)), "INIT_AMSS ERASE CLOSE*2 GO"));
    EXPECT_EQ(OfCode(line->Requests(), CMD_WRITE).size(), 2u);
    EXPECT_EQ(rec.LastText(kCh), "ERR: Erase Flash");
    EXPECT_TRUE(rec.Alerts(kCh).empty());
    ExpectChannelEnded(kCh, 0);
}

// A partition image the handset does not take is read as a changed partition table.
TEST(JobFailure, PartitionNotTakenShowsThePartitionAlert) {
    struct Case {
        const char* fault;
        const char* text;
        const char* sequence;
    };
    for (const Case& c :
         {Case{"refuse:END_IMAGE:1", "ERR: End Image",
               "UNLOCK VERSION SECURITY_MODE INIT_PARTITION ERASE WRITE END_IMAGE CLOSE*2 GO"},
          Case{"refuse:ERASE:1", "ERR: Erase Flash",
               "UNLOCK VERSION SECURITY_MODE INIT_PARTITION ERASE CLOSE*2 GO"}}) {
        SCOPED_TRACE(c.fault);
        JobGuard guard;
        TempDir dir;
        FillCode(dir);
        constexpr int kCh = 6;
        Recorder rec;
        Line line = RunOne(rec, kCh, WithFaults(c.fault));

        EXPECT_EQ(Sequence(SettledLog(*line)), c.sequence);
        EXPECT_EQ(rec.LastText(kCh), c.text);
        EXPECT_EQ(rec.Alerts(kCh), (std::vector<std::string>{kPartitionAlert}));
        const JobOutcome outcome = OUTCOME_Get(kCh);
        EXPECT_EQ(outcome.step,
                  std::string(c.text) == "ERR: End Image" ? JobStep::EndImage : JobStep::Erase);
        EXPECT_EQ(outcome.slot, 5);
        EXPECT_EQ(outcome.reason, JobReason::Refused);
        ExpectChannelEnded(kCh, 0);
    }
}

// The missing-file flag belongs to one run: the run that met the missing file shows no partition
// alert, the next Download of the same station shows it again.
TEST(JobFailure, MissingFileEndsWithErrNoFileAndSilencesThePartitionAlertOfThatRunOnly) {
    JobGuard guard;
    TempDir dir;
    FillCode(dir);
    const std::string partition = dir.File("WZRTAll/partition.mbn");
    const std::string saved = partition + ".saved";
    std::filesystem::rename(partition, saved);
    constexpr int kCh = 3;
    {
        Recorder rec;
        Line line = RunOne(rec, kCh, {});
        EXPECT_EQ(Sequence(SettledLog(*line)),
                  "UNLOCK VERSION SECURITY_MODE INIT_PARTITION CLOSE GO");
        EXPECT_EQ(rec.LastText(kCh), "ERR: No File");
        EXPECT_TRUE(rec.Alerts(kCh).empty());
        const JobOutcome outcome = OUTCOME_Get(kCh);
        EXPECT_EQ(outcome.step, JobStep::Block);
        EXPECT_EQ(outcome.reason, JobReason::File);
        EXPECT_EQ(outcome.slot, 5);
        EXPECT_EQ(outcome.code, ENOENT);
        EXPECT_EQ(outcome.detail, "cannot open " + partition);
        EXPECT_EQ(guard.station().links().fileMissing.load(), 1);
        ExpectChannelEnded(kCh, 0);
    }
    std::filesystem::rename(saved, partition);
    {
        Recorder rec;
        Line line = RunOne(rec, kCh, WithFaults("refuse:END_IMAGE:1"));
        EXPECT_EQ(rec.LastText(kCh), "ERR: End Image");
        EXPECT_EQ(rec.Alerts(kCh), (std::vector<std::string>{kPartitionAlert}));
        EXPECT_EQ(guard.station().links().fileMissing.load(), 0);
        ExpectChannelEnded(kCh, 0);
    }
}

TEST(JobFailure, ResendAskedInTheMiddleOfTheAmssIsHonouredAndTheJobSucceeds) {
    JobGuard guard;
    TempDir dir;
    CodeSizes sizes;
    sizes.amss = 0x100000;
    FillCode(dir, sizes);  // 1 + 1 + 36 blocks
    constexpr int kCh = 2;
    Recorder rec;
    Line line = RunOne(rec, kCh, WithFaults("nak-resend:WRITE:30"));
    const auto writes = OfCode(SettledLog(*line), CMD_WRITE);

    ASSERT_EQ(writes.size(), 39u);
    EXPECT_EQ(writes[29].reply, SimReply::NakResend);
    int repeats = 0;
    for (std::size_t i = 30; i < writes.size(); ++i)
        repeats += writes[i].address == writes[29].address;
    EXPECT_EQ(repeats, 1);
    EXPECT_EQ(rec.LastText(kCh), "Download Complete! [0 sec]");
    const SimVerifyReport report = VerifyChannel(*line, kCh);
    EXPECT_TRUE(report.ok) << report.text;
    EXPECT_TRUE(line->Started());
    ExpectChannelEnded(kCh, 1);
    EXPECT_FALSE(OUTCOME_Get(kCh).Failed());
}

TEST(JobFailure, CorruptedReplyFailsTheTransferOrTheExchangeItAnswers) {
    struct Case {
        const char* fault;
        const char* textPrefix;
        const char* ending;
    };
    for (const Case& c :
         {Case{"corrupt-crc:WRITE:10", "ERR: [", "WRITE WRITE CLOSE GO"},
          Case{"corrupt-crc:INIT_AMSS:1", "ERR: Init AMSS", "INIT_AMSS CLOSE CLOSE GO"}}) {
        SCOPED_TRACE(c.fault);
        JobGuard guard;
        TempDir dir;
        CodeSizes sizes;
        sizes.amss = 0x100000;
        FillCode(dir, sizes);
        constexpr int kCh = 0;
        Recorder rec;
        Line line = RunOne(rec, kCh, WithFaults(c.fault));

        EXPECT_TRUE(StartsWith(rec.LastText(kCh), c.textPrefix)) << rec.LastText(kCh);
        const std::string sequence = Sequence(SettledLog(*line), /*collapse=*/false);
        EXPECT_TRUE(EndsWith(sequence, c.ending)) << sequence;
        EXPECT_EQ(line->GoCount(), 1);
        ExpectChannelEnded(kCh, 0);
    }
}

// The resource image has no END_IMAGE: only the close procedure learns whether its last blocks
// arrived. A handset that never confirmed them is not a finished handset. With two frames
// unanswered the window admits CLOSE but never GO, which is dropped after its wait.
TEST(JobFailure, ResourceBlocksNeverAcknowledgedFailTheJobAtClose) {
    struct Case {
        const char* faults;
        const char* sequence;
    };
    for (const Case& c :
         {Case{"drop:FS_WRITE:5", "UNLOCK VERSION FS_FORMAT ERASE FS_WRITE*5 CLOSE GO"},
          // CLOSE's answer arrives where block 4's was due: out of order, never block 4's
          // acknowledge; it frees its number, so GO still goes out.
          Case{"drop:FS_WRITE:4,drop:FS_WRITE:5",
               "UNLOCK VERSION FS_FORMAT ERASE FS_WRITE*5 CLOSE GO"}}) {
        SCOPED_TRACE(c.faults);
        JobGuard guard;
        g_passScale = 20;
        SERIAL_PORT_SetPassWait(&ScaledPass);
        TempDir dir;
        ASSERT_TRUE(WriteBytes(dir.File("rsc.bin"), Pattern(5 * kBlockSize, 3)));
        SETTINGS_CopyText(g_szEtc2File, dir.File("rsc.bin"));
        DownloadControls controls;
        controls.resourceChecked = true;
        controls.resourceAddressText = "0";
        ASSERT_EQ(PELOR_FillImages(controls, nullptr), DOWNLOAD_READY);
        constexpr int kCh = 7;
        Recorder rec;
        Line line = RunOne(rec, kCh, WithFaults(c.faults));

        EXPECT_EQ(Sequence(SettledLog(*line)), c.sequence);
        const auto texts = rec.Texts(kCh);
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts[texts.size() - 2], "Download Complete! [0 sec]");
        EXPECT_EQ(texts.back(), "ERR: Close");
        ExpectChannelEnded(kCh, 0);
    }
}

// Pulling the cable in the middle of the AMSS: the window's removal handling closes the channel,
// whose job then ends at once; the other channel is not disturbed.
TEST(JobFailure, UnpluggedHandsetFailsItsChannelOnlyAndEndsPromptly) {
    // Nobody closes the channel: its own pump sees the port gone, and its waits end at once
    // instead of waiting out their passes.
    JobGuard guard;
    TempDir dir;
    CodeSizes sizes;
    sizes.amss = 0x100000;
    FillCode(dir, sizes);
    Line pulled = PtyLine(WithFaults("unplug:WRITE:20"));
    Line healthy = PtyLine();
    ASSERT_TRUE(pulled.handset && healthy.handset);
    Ports ports{};
    ports[0] = pulled.port;
    ports[1] = healthy.port;
    Recorder rec;
    const auto start = Clock::now();
    Clock::time_point endedAt{};
    const auto took = RunChannels(rec, ports, [&](std::chrono::milliseconds interval) {
        if (endedAt == Clock::time_point{} && g_nComPort[0] == 0) endedAt = Clock::now();
        std::this_thread::sleep_for(interval);
    });

    EXPECT_TRUE(pulled->Unplugged());
    // Without the pump's word, its waits would have given up only after 12 s.
    if (endedAt == Clock::time_point{}) endedAt = start + took;
    EXPECT_LT(endedAt - start, std::chrono::seconds(2));
    EXPECT_TRUE(StartsWith(rec.LastText(0), "ERR: [")) << rec.LastText(0);
    ExpectChannelEnded(0, 0);
    EXPECT_EQ(rec.LastText(1), "Download Complete! [0 sec]");
    const SimVerifyReport report = VerifyChannel(*healthy, 1);
    EXPECT_TRUE(report.ok) << report.text;
    ExpectChannelEnded(1, 1);
    EXPECT_LT(took, std::chrono::seconds(10));
}
