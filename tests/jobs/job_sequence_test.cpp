// The channel download job's typical runs, end to end against the simulated handset: the exact
// order of requests for each choice of options, the texts on the channel's bar, and the flash
// the handset is left with.
#include <gtest/gtest.h>

#include "jobs/download_plan.h"
#include "jobs/job_test_util.h"
#include "sim/sim_flash.h"

using namespace jobs_test;

namespace {

// The slot texts of a run, without the transfer's own texts.
std::vector<std::string> SlotTexts(const std::vector<std::string>& texts) {
    std::vector<std::string> out;
    for (const std::string& t : texts) {
        if (t != "Erasing..." && !StartsWith(t, "Download Complete!")) out.push_back(t);
    }
    return out;
}

DownloadControls Code(const char* address) {
    DownloadControls c;
    c.codeChecked = true;
    c.codeAddressText = address;
    return c;
}

// Runs one channel against a fresh loopback handset; the handset is returned for inspection.
Line RunOne(Recorder& recorder, int ch, std::function<void(SimHandset&)> seed = {}) {
    Line line = LoopLine();
    if (seed) seed(*line);
    Ports ports{};
    ports[ch] = line.port;
    RunChannels(recorder, ports);
    return line;
}

}  // namespace

TEST(JobSequence, CodeOnlySendsTheSlotsInOrderAndTheFlashVerifies) {
    JobGuard guard;
    TempDir dir;
    MakeCodeFolder(dir, "WZRTAll");
    SETTINGS_CopyText(g_szCodeAddress, "70000");
    std::string message;
    ASSERT_EQ(PELOR_FillImages(Code("70000"), &message), DOWNLOAD_READY) << message;

    constexpr int kCh = 3;
    Recorder rec;
    Line line = RunOne(rec, kCh);
    const auto log = SettledLog(*line);

    EXPECT_EQ(Sequence(log),
              "UNLOCK VERSION SECURITY_MODE INIT_PARTITION ERASE WRITE END_IMAGE INIT_AMSS_HEADER "
              "ERASE WRITE INIT_AMSS ERASE WRITE*3 END_IMAGE CLOSE GO");
    EXPECT_EQ(rec.Texts(kCh), (std::vector<std::string>{
                                  "Download Start", "Security Mode", "Init Partition", "Erasing...",
                                  "Download Complete! [0 sec]", "Init AMSS Header", "Erasing...",
                                  "Download Complete! [0 sec]", "Init AMSS", "Erasing...",
                                  "Download Complete! [0 sec]"}));
    // The AMSS image from 0x70000 on: 40000 bytes in three blocks at their own addresses.
    const auto erases = OfCode(log, CMD_ERASE);
    ASSERT_EQ(erases.size(), 3u);
    EXPECT_EQ(erases[2].address, 0x70000u);
    EXPECT_EQ(erases[2].length, 49152u);
    const auto writes = OfCode(log, CMD_WRITE);
    ASSERT_EQ(writes.size(), 5u);
    EXPECT_EQ(writes[2].address, 0x70000u);
    EXPECT_EQ(writes[3].address, 0x74000u);
    EXPECT_EQ(writes[4].address, 0x78000u);

    const SimVerifyReport report = VerifyChannel(*line, kCh);
    EXPECT_TRUE(report.ok) << report.text;
    EXPECT_EQ(report.images, 3);
    EXPECT_TRUE(line->Started());
    EXPECT_TRUE(line->SecurityModeRequested());
    EXPECT_TRUE(rec.Alerts(kCh).empty());
    EXPECT_EQ(rec.WrongMessages(), 0);
    ExpectChannelEnded(kCh, 1);
}

TEST(JobSequence, AllNandEraseComesFirstAndTheBootChainRunsBetweenPartitionAndAmssHeader) {
    JobGuard guard;
    TempDir dir;
    CodeSizes sizes;
    sizes.amss = 40000;
    MakeCodeFolder(dir, "WZRTAll", sizes);
    g_bChangeBootArea = 1;
    g_bEraseAllNand = 1;
    SETTINGS_CopyText(g_szCodeAddress, "0");
    ASSERT_EQ(PELOR_FillImages(Code("0"), nullptr), DOWNLOAD_READY);

    constexpr int kCh = 0;
    const Bytes calibration = Pattern(512, 77);
    Recorder rec;
    Line line =
        RunOne(rec, kCh, [&](SimHandset& h) { h.SeedArea(kSimAreaBackup, 0, calibration); });

    // END_IMAGE follows the PBL, QCSBL and OEMSBL images, never their headers.
    EXPECT_EQ(Sequence(SettledLog(*line)),
              "UNLOCK VERSION ERASE_ALL_NAND SECURITY_MODE INIT_PARTITION ERASE WRITE END_IMAGE "
              "INIT_PBL ERASE WRITE*2 END_IMAGE INIT_QCSBL_HEADER ERASE WRITE*2 INIT_QCSBL ERASE "
              "WRITE*2 END_IMAGE INIT_OEMSBL_HEADER ERASE WRITE*2 INIT_OEMSBL ERASE WRITE*2 "
              "END_IMAGE INIT_AMSS_HEADER ERASE WRITE INIT_AMSS ERASE WRITE*3 END_IMAGE CLOSE GO");
    EXPECT_EQ(SlotTexts(rec.Texts(kCh)),
              (std::vector<std::string>{"Download Start", "Erasing All NAND...", "Security Mode",
                                        "Init Partition", "Init PBL", "Init QCSBL Header",
                                        "Init QCSBL", "Init OEMSBL Header", "Init OEMSBL",
                                        "Init AMSS Header", "Init AMSS"}));
    const SimVerifyReport report = VerifyChannel(*line, kCh);
    EXPECT_TRUE(report.ok) << report.text;
    EXPECT_EQ(report.images, 8);
    // The whole NAND went, the backup area with it.
    EXPECT_EQ(line->ReadArea(kSimAreaBackup, 0, calibration.size()),
              Bytes(calibration.size(), 0xFF));
    ExpectChannelEnded(kCh, 1);
}

TEST(JobSequence, EraseExceptBackupAreaComesBeforeSecurityModeAndKeepsTheBackupArea) {
    JobGuard guard;
    TempDir dir;
    MakeCodeFolder(dir, "WZRTAll");
    g_bEraseNand = 1;
    SETTINGS_CopyText(g_szCodeAddress, "70000");
    ASSERT_EQ(PELOR_FillImages(Code("70000"), nullptr), DOWNLOAD_READY);

    constexpr int kCh = 6;
    const Bytes calibration = Pattern(512, 78);
    const Bytes stale = Pattern(100, 79);
    Recorder rec;
    Line line = RunOne(rec, kCh, [&](SimHandset& h) {
        h.SeedArea(kSimAreaBackup, 0x200, calibration);
        h.SeedArea(kCommandCodes[CMD_INIT_PBL], 0, stale);
    });

    EXPECT_EQ(Sequence(SettledLog(*line)),
              "UNLOCK VERSION ERASE_NAND_EXCEPT_BACKUP SECURITY_MODE INIT_PARTITION ERASE WRITE "
              "END_IMAGE INIT_AMSS_HEADER ERASE WRITE INIT_AMSS ERASE WRITE*3 END_IMAGE CLOSE GO");
    EXPECT_EQ(SlotTexts(rec.Texts(kCh)),
              (std::vector<std::string>{"Download Start", "Erasing NAND...", "Security Mode",
                                        "Init Partition", "Init AMSS Header", "Init AMSS"}));
    EXPECT_TRUE(VerifyChannel(*line, kCh).ok);
    EXPECT_EQ(line->ReadArea(kSimAreaBackup, 0x200, calibration.size()), calibration);
    EXPECT_EQ(line->ReadArea(kCommandCodes[CMD_INIT_PBL], 0, stale.size()),
              Bytes(stale.size(), 0xFF));
    ExpectChannelEnded(kCh, 1);
}

TEST(JobSequence, ResourceOnlyFormatsAndSendsFsWriteBlocksWithoutTheRepeatedCode) {
    JobGuard guard;
    TempDir dir;
    const Bytes resource = Pattern(3 * kBlockSize + 100, 5);
    ASSERT_TRUE(WriteBytes(dir.File("VORODOV_rsc.bin"), resource));
    SETTINGS_CopyText(g_szEtc2File, dir.File("VORODOV_rsc.bin"));
    DownloadControls c;
    c.resourceChecked = true;
    c.resourceAddressText = "0";
    ASSERT_EQ(PELOR_FillImages(c, nullptr), DOWNLOAD_READY);

    constexpr int kCh = 1;
    const Bytes old = Pattern(64, 6);
    Recorder rec;
    Line line = RunOne(rec, kCh, [&](SimHandset& h) { h.SeedArea(kSimAreaFs, 0x100000, old); });
    const auto log = SettledLog(*line);

    EXPECT_EQ(Sequence(log), "UNLOCK VERSION FS_FORMAT ERASE FS_WRITE*4 CLOSE GO");
    EXPECT_EQ(rec.Texts(kCh),
              (std::vector<std::string>{"Download Start", "ORL4 Formating...", "Erasing...",
                                        "Download Complete! [0 sec]"}));
    // The handset takes an FS_WRITE only when exactly the announced bytes follow the length.
    for (const SimRequest& r : OfCode(log, CMD_FS_WRITE)) {
        EXPECT_EQ(r.dataSize, static_cast<std::size_t>(kBlockSize));
        EXPECT_EQ(r.reply, SimReply::Ack);
    }
    const SimVerifyReport report = VerifyChannel(*line, kCh);
    EXPECT_TRUE(report.ok) << report.text;
    EXPECT_EQ(line->ReadArea(kSimAreaFs, 0x100000, old.size()), Bytes(old.size(), 0xFF));
    ExpectChannelEnded(kCh, 1);
}

TEST(JobSequence, ResourceWithFormatOffInitialisesAndKeepsTheFileSystem) {
    JobGuard guard;
    TempDir dir;
    ASSERT_TRUE(WriteBytes(dir.File("rsc.bin"), Pattern(kBlockSize, 8)));
    SETTINGS_CopyText(g_szEtc2File, dir.File("rsc.bin"));
    PELOR_SetRunOptions(0, 0);
    DownloadControls c;
    c.resourceChecked = true;
    c.resourceAddressText = "4000";
    ASSERT_EQ(PELOR_FillImages(c, nullptr), DOWNLOAD_READY);

    constexpr int kCh = 7;
    const Bytes old = Pattern(64, 9);
    Recorder rec;
    Line line = RunOne(rec, kCh, [&](SimHandset& h) { h.SeedArea(kSimAreaFs, 0x100000, old); });

    EXPECT_EQ(Sequence(SettledLog(*line)), "UNLOCK VERSION FS_INIT ERASE FS_WRITE CLOSE GO");
    EXPECT_EQ(SlotTexts(rec.Texts(kCh)), (std::vector<std::string>{"Download Start", "ORL4 Init"}));
    EXPECT_TRUE(VerifyChannel(*line, kCh).ok);
    EXPECT_EQ(line->ReadArea(kSimAreaFs, 0x100000, old.size()), old);
    ExpectChannelEnded(kCh, 1);
}
