// Settings and job files move between the Windows and the POSIX build of the station. Each build
// writes its own line endings (CRLF on Windows, LF elsewhere) and must read the other's files
// to the same values, keeping their line endings when it saves over them. This program runs on
// both builds (the Windows one under wine in CI): each checks that what it writes is the shared
// text with its own line ending and that it reads the shared text with the other's, so together
// they show that either build reads what the other wrote. Paths are carried as text only: a
// folder of one system means nothing on the other.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "config/settings.h"
#include "config_test_util.h"

using config_test::ReadAll;
using config_test::TempDir;
using config_test::WriteAll;

namespace {

#ifdef _WIN32
const std::string kOwnNewline = "\r\n";
const std::string kOtherNewline = "\n";
const std::string kOwnCode = "C:\\bench\\images\\BUILD42";
const std::string kOtherCode = "/srv/bench/images/BUILD42";
const std::string kOtherFont = "/srv/bench/boot.fnt";
const std::string kOtherResource = "/srv/bench/res/VORODOV_rsc.bin";
const std::string kOtherJob = "/srv/bench/bench A.plr";
#else
const std::string kOwnNewline = "\n";
const std::string kOtherNewline = "\r\n";
const std::string kOwnCode = "/srv/bench/images/BUILD42";
const std::string kOtherCode = "C:\\bench\\images\\BUILD42";
const std::string kOtherFont = "C:\\bench\\boot.fnt";
const std::string kOtherResource = "D:\\res\\VORODOV_rsc.bin";
const std::string kOtherJob = "C:\\bench\\bench A.plr";
#endif

// The settings file with the values below, as SETTINGS_Save writes it.
std::string SettingsText(const std::string& nl, const std::string& jobPath, int delay = 5) {
    return "[PELOR]" + nl + "AUTODETECT=0" + nl + "CH0_PORT=3" + nl + "CH1_PORT=4" + nl +
           "CH2_PORT=0" + nl + "CH3_PORT=12" + nl + "CH4_PORT=0" + nl + "CH5_PORT=0" + nl +
           "CH6_PORT=0" + nl + "CH7_PORT=30" + nl + "DELAY=" + std::to_string(delay) + nl +
           "BAUDRATE=921600" + nl + "PELORFILE=" + jobPath + nl;
}

std::string JobText(const std::string& nl, const std::string& code, const std::string& font,
                    const std::string& resource) {
    return "[PELOR]" + nl + "CODECHECK=0" + nl + "CODEFILE=" + code + nl + "FONTCHECK=1" + nl +
           "FONTFILE=" + font + nl + "FONTADDRESS=A0" + nl + "DATACHECK=0" + nl +
           "DATAFILE=HLNDATA.DAT" + nl + "DATAADDRESS=1400000" + nl + "ETC1CHECK=0" + nl +
           "ETC1FILE=" + nl + "ETC1ADDRESS=" + nl + "ETC2CHECK=1" + nl + "ETC2FILE=" + resource +
           nl + "ETC2ADDRESS=4000000" + nl;
}

void SetValues() {
    g_bAutoDetect = 0;
    g_nChPort = {3, 4, 0, 12, 0, 0, 0, 30};
    g_nDelay = 5;
    g_dwBaudRate = 921600;
    g_bCodeCheck = 0;
    g_bFontCheck = 1;
    SETTINGS_CopyText(g_szFontAddress, "A0");
    g_bEtc2Check = 1;
    SETTINGS_CopyText(g_szEtc2Address, "4000000");
}

// Every value but the paths.
void ExpectValues() {
    EXPECT_EQ(g_bAutoDetect, 0);
    EXPECT_EQ(g_nChPort, (std::array<int, kPortChannels>{3, 4, 0, 12, 0, 0, 0, 30}));
    EXPECT_EQ(g_nDelay, 5);
    EXPECT_EQ(g_dwBaudRate, 921600);
    EXPECT_EQ(g_bCodeCheck, 0);
    EXPECT_EQ(g_bFontCheck, 1);
    EXPECT_STREQ(g_szFontAddress, "A0");
    EXPECT_EQ(g_bDataCheck, 0);
    EXPECT_STREQ(g_szDataFile, "HLNDATA.DAT");
    EXPECT_STREQ(g_szDataAddress, "1400000");
    EXPECT_EQ(g_bEtc1Check, 0);
    EXPECT_EQ(g_bEtc2Check, 1);
    EXPECT_STREQ(g_szEtc2Address, "4000000");
}

class SettingsExchange : public ::testing::Test {
protected:
    void SetUp() override {
        SETTINGS_ResetGlobals();
        SETTINGS_CopyText(g_szWorkDir, dir_.path());
    }
    void TearDown() override { SETTINGS_ResetGlobals(); }

    TempDir dir_;
};

TEST_F(SettingsExchange, SavedFilesAreTheSharedTextWithThisSystemsLineEndings) {
    const std::string job = dir_ / "bench A.plr";
    SetValues();
    SETTINGS_CopyText(g_szJobFile, job);
    SETTINGS_CopyText(g_szCodeFile, kOwnCode);
    SETTINGS_CopyText(g_szFontFile, kOwnCode + ".fnt");
    SETTINGS_CopyText(g_szEtc2File, kOwnCode + ".bin");
    ASSERT_EQ(SETTINGS_Save(), 1);
    EXPECT_EQ(ReadAll(dir_ / "pelorw.ini"), SettingsText(kOwnNewline, job));
    EXPECT_EQ(ReadAll(job), JobText(kOwnNewline, kOwnCode, kOwnCode + ".fnt", kOwnCode + ".bin"));
}

TEST_F(SettingsExchange, FilesOfTheOtherSystemReadTheSameValues) {
    WriteAll(dir_ / "pelorw.ini", SettingsText(kOtherNewline, kOtherJob));
    const std::string job = dir_ / "other.plr";
    WriteAll(job, JobText(kOtherNewline, kOtherCode, kOtherFont, kOtherResource));

    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    EXPECT_STREQ(g_szJobFile, kOtherJob.c_str());  // as text: no line ending left on it
    ASSERT_EQ(SETTINGS_Load(job.c_str()), 1);
    ExpectValues();
    EXPECT_STREQ(g_szCodeFile, kOtherCode.c_str());
    EXPECT_STREQ(g_szFontFile, kOtherFont.c_str());
    EXPECT_STREQ(g_szEtc2File, kOtherResource.c_str());
}

TEST_F(SettingsExchange, SavingOverTheOtherSystemsFilesKeepsTheirLineEndings) {
    WriteAll(dir_ / "pelorw.ini", SettingsText(kOtherNewline, kOtherJob));
    const std::string job = dir_ / "other.plr";
    const std::string jobText = JobText(kOtherNewline, kOtherCode, kOtherFont, kOtherResource);
    WriteAll(job, jobText);
    ASSERT_EQ(SETTINGS_Load(job.c_str()), 1);

    g_nDelay = 9;
    ASSERT_EQ(SETTINGS_Save(), 1);
    EXPECT_EQ(ReadAll(dir_ / "pelorw.ini"), SettingsText(kOtherNewline, job, 9));
    EXPECT_EQ(ReadAll(job), jobText);
}

// The oracle of tests/win reads these two files with the Windows functions themselves: they
// are what the two builds write.
TEST(SettingsExchangeCorpus, TheSharedJobFilesAreWhatEachBuildWrites) {
    const std::string corpus = PELOR_INI_CORPUS;
    const std::string posix = "/srv/bench/images/BUILD42";
    const std::string windows = "C:\\bench\\images\\BUILD42";
    EXPECT_EQ(ReadAll(corpus + "/written_by_linux.plr"),
              JobText("\n", posix, posix + ".fnt", posix + ".bin"));
    EXPECT_EQ(ReadAll(corpus + "/written_by_windows.plr"),
              JobText("\r\n", windows, windows + ".fnt", windows + ".bin"));
}

// A job saved on a Windows bench and edited there by hand: quoted values, a row's key without
// '=', a second [PELOR] block and an end mark read as the Windows functions read them.
TEST_F(SettingsExchange, AHandEditedWindowsJobMeansWhatItMeantThere) {
    const std::string job = std::string(PELOR_INI_CORPUS) + "/station_hand_edited.plr";
    ASSERT_EQ(SETTINGS_Load(job.c_str()), 1);
    EXPECT_EQ(g_bCodeCheck, 1);
    EXPECT_STREQ(g_szCodeFile, "C:\\images\\WZRTAll");  // a folder, not a quoted text
    EXPECT_EQ(g_bDataCheck, 0);  // "DATACHECK" alone
    EXPECT_EQ(g_bEtc1Check, 0);  // only in the second block
    EXPECT_EQ(g_bEtc2Check, 1);
    EXPECT_STREQ(g_szEtc2File, "D:\\res\\VORODOV_rsc.bin");
    EXPECT_STREQ(g_szEtc2Address, "4000000");
}

}  // namespace
