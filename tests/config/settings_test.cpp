// The settings file and the job file: defaults, round trips, hand-edited files, capacities.
#include "config/settings.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "config/ini_file.h"
#include "config_test_util.h"

using config_test::ReadAll;
using config_test::TempDir;
using config_test::WriteAll;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SETTINGS_ResetGlobals();
        SETTINGS_CopyText(g_szWorkDir, dir_.path());
    }
    void TearDown() override { SETTINGS_ResetGlobals(); }

    std::string SettingsPath() const { return dir_ / "pelorw.ini"; }
    std::string DefaultJob() const { return dir_ / "default.plr"; }

    TempDir dir_;
};

const char* const kDefaultSettingsKeys =
    "[PELOR]\n"
    "AUTODETECT=1\n"
    "CH0_PORT=0\nCH1_PORT=0\nCH2_PORT=0\nCH3_PORT=0\n"
    "CH4_PORT=0\nCH5_PORT=0\nCH6_PORT=0\nCH7_PORT=0\n"
    "DELAY=2\n"
    "BAUDRATE=1382400\n";

const char* const kDefaultJobText =
    "[PELOR]\n"
    "CODECHECK=1\n"
    "CODEFILE=/WZRTAll\n"
    "FONTCHECK=0\n"
    "FONTFILE=HLNFONT.FNT\n"
    "FONTADDRESS=0\n"
    "DATACHECK=0\n"
    "DATAFILE=HLNDATA.DAT\n"
    "DATAADDRESS=1400000\n"
    "ETC1CHECK=0\n"
    "ETC1FILE=\n"
    "ETC1ADDRESS=\n"
    "ETC2CHECK=0\n"
    "ETC2FILE=\n"
    "ETC2ADDRESS=\n";

// Puts something other than the defaults in every job global.
void FillJobGlobals() {
    g_bCodeCheck = 0;
    SETTINGS_CopyText(g_szCodeFile, "/data/images/BUILD42");
    g_bFontCheck = 1;
    SETTINGS_CopyText(g_szFontFile, "/data/boot.fnt");
    SETTINGS_CopyText(g_szFontAddress, "A0");
    g_bDataCheck = 1;
    SETTINGS_CopyText(g_szDataFile, "/data/d.dat");
    SETTINGS_CopyText(g_szDataAddress, "2000000");
    g_bEtc1Check = 1;
    SETTINGS_CopyText(g_szEtc1File, "/data/e1.bin");
    SETTINGS_CopyText(g_szEtc1Address, "3000000");
    g_bEtc2Check = 1;
    SETTINGS_CopyText(g_szEtc2File, "/data/VORODOV_rsc.bin");
    SETTINGS_CopyText(g_szEtc2Address, "4000000");
}

}  // namespace

TEST_F(SettingsTest, FirstStartInAnEmptyFolderGivesTheDefaults) {
    g_bAutoDetect = 0;
    g_nChPort[4] = 9;
    g_bCodeCheck = 0;
    SETTINGS_CopyText(g_szCodeAddress, "");
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);

    EXPECT_EQ(g_bAutoDetect, 1);
    for (int port : g_nChPort) EXPECT_EQ(port, 0);
    EXPECT_EQ(g_nDelay, 2);
    EXPECT_EQ(g_dwBaudRate, 1382400);
    EXPECT_STREQ(g_szJobFile, DefaultJob().c_str());
    EXPECT_EQ(g_bCodeCheck, 1);
    EXPECT_STREQ(g_szCodeFile, "/WZRTAll");
    EXPECT_STREQ(g_szImageFolder, "/WZRTAll");
    EXPECT_STREQ(g_szImageBaseName, "/WZRTAll");
    EXPECT_STREQ(g_szCodeAddress, "18000");
    EXPECT_EQ(g_bFontCheck, 0);
    EXPECT_STREQ(g_szFontFile, "HLNFONT.FNT");
    EXPECT_STREQ(g_szFontAddress, "0");
    EXPECT_EQ(g_bDataCheck, 0);
    EXPECT_STREQ(g_szDataFile, "HLNDATA.DAT");
    EXPECT_STREQ(g_szDataAddress, "1400000");
    EXPECT_EQ(g_bEtc1Check, 0);
    EXPECT_STREQ(g_szEtc1File, "");
    EXPECT_STREQ(g_szEtc1Address, "");
    EXPECT_EQ(g_bEtc2Check, 0);
    EXPECT_STREQ(g_szEtc2File, "");
    EXPECT_STREQ(g_szEtc2Address, "");
    EXPECT_EQ(g_bFormat, 1);
    EXPECT_EQ(config_test::List(dir_.path()).size(), 0u);  // loading writes nothing

    ASSERT_EQ(SETTINGS_Save(), 1);
    EXPECT_EQ(ReadAll(SettingsPath()),
              std::string(kDefaultSettingsKeys) + "PELORFILE=" + DefaultJob() + "\n");
    EXPECT_EQ(ReadAll(DefaultJob()), kDefaultJobText);
    EXPECT_EQ(config_test::List(dir_.path()),
              (std::vector<std::string>{"default.plr", "pelorw.ini"}));
}

TEST_F(SettingsTest, SavedSettingsAndJobReadBackTheSame) {
    g_bAutoDetect = 0;
    for (int ch = 0; ch < kPortChannels; ++ch) g_nChPort[static_cast<std::size_t>(ch)] = ch * 3 + 1;
    g_nDelay = 5;
    g_dwBaudRate = 115200;
    const std::string job = dir_ / "bench A.plr";
    SETTINGS_CopyText(g_szJobFile, job);
    FillJobGlobals();
    ASSERT_EQ(SETTINGS_Save(), 1);

    SETTINGS_ResetGlobals();
    SETTINGS_CopyText(g_szWorkDir, dir_.path());
    g_bChangeBootArea = 1;
    g_bEraseAllNand = 1;
    g_bEraseNand = 1;
    SETTINGS_CopyText(g_szCodeAddress, "0");
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);

    EXPECT_EQ(g_bAutoDetect, 0);
    for (int ch = 0; ch < kPortChannels; ++ch)
        EXPECT_EQ(g_nChPort[static_cast<std::size_t>(ch)], ch * 3 + 1);
    EXPECT_EQ(g_nDelay, 5);
    EXPECT_EQ(g_dwBaudRate, 115200);
    EXPECT_STREQ(g_szJobFile, job.c_str());
    EXPECT_EQ(g_bCodeCheck, 0);
    EXPECT_STREQ(g_szCodeFile, "/data/images/BUILD42");
    EXPECT_STREQ(g_szImageFolder, "/data/images/BUILD42");
    EXPECT_STREQ(g_szImageBaseName, "/BUILD42");
    EXPECT_EQ(g_bFontCheck, 1);
    EXPECT_STREQ(g_szFontFile, "/data/boot.fnt");
    EXPECT_STREQ(g_szFontAddress, "A0");
    EXPECT_EQ(g_bDataCheck, 1);
    EXPECT_STREQ(g_szDataFile, "/data/d.dat");
    EXPECT_STREQ(g_szDataAddress, "2000000");
    EXPECT_EQ(g_bEtc1Check, 1);
    EXPECT_STREQ(g_szEtc1File, "/data/e1.bin");
    EXPECT_STREQ(g_szEtc1Address, "3000000");
    EXPECT_EQ(g_bEtc2Check, 1);
    EXPECT_STREQ(g_szEtc2File, "/data/VORODOV_rsc.bin");
    EXPECT_STREQ(g_szEtc2Address, "4000000");
    // Every job load clears the boot and erase options and sets the code address.
    EXPECT_EQ(g_bChangeBootArea, 0);
    EXPECT_EQ(g_bEraseAllNand, 0);
    EXPECT_EQ(g_bEraseNand, 0);
    EXPECT_STREQ(g_szCodeAddress, "18000");
    EXPECT_FALSE(config_test::Exists(DefaultJob()));
}

TEST_F(SettingsTest, AHandEditedFileKeepsEverythingButTheWrittenValues) {
    const std::string before =
        "; bench 3, do not touch the PORTS section\r\n"
        "\r\n"
        "[PORTS]\r\n"
        "DELAY=77\r\n"
        "USB-1.2=3\r\n"
        "\r\n"
        "[pelor]\r\n"
        "BaudRate = 115200\r\n"
        "; the delay is tuned for the old hubs\r\n"
        "delay=4\r\n"
        "LEGACY=keep\r\n"
        "\r\n"
        "[TAIL]\r\n"
        "X=1\r\n";
    WriteAll(SettingsPath(), before);
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    EXPECT_EQ(g_nDelay, 4);
    EXPECT_EQ(g_dwBaudRate, 115200);
    g_nDelay = 6;
    g_nChPort[2] = 12;
    ASSERT_EQ(SETTINGS_Save(), 1);

    const std::string after =
        "; bench 3, do not touch the PORTS section\r\n"
        "\r\n"
        "[PORTS]\r\n"
        "DELAY=77\r\n"
        "USB-1.2=3\r\n"
        "\r\n"
        "[pelor]\r\n"
        "BaudRate=115200\r\n"
        "; the delay is tuned for the old hubs\r\n"
        "delay=6\r\n"
        "LEGACY=keep\r\n"
        "AUTODETECT=1\r\n"
        "CH0_PORT=0\r\nCH1_PORT=0\r\nCH2_PORT=12\r\nCH3_PORT=0\r\n"
        "CH4_PORT=0\r\nCH5_PORT=0\r\nCH6_PORT=0\r\nCH7_PORT=0\r\n"
        "PELORFILE=" +
        DefaultJob() +
        "\r\n"
        "\r\n"
        "[TAIL]\r\n"
        "X=1\r\n";
    EXPECT_EQ(ReadAll(SettingsPath()), after);

    // The job file keeps its own order and foreign keys too.
    WriteAll(DefaultJob(), "[PELOR]\nETC2ADDRESS=9\nNOTE=mine\n[EXTRA]\nCODEFILE=x\n");
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    EXPECT_STREQ(g_szEtc2Address, "9");
    SETTINGS_CopyText(g_szEtc2Address, "10");
    ASSERT_EQ(SETTINGS_Save(), 1);
    const std::string job = ReadAll(DefaultJob());
    EXPECT_EQ(job.rfind("[PELOR]\nETC2ADDRESS=10\nNOTE=mine\nCODECHECK=1\nCODEFILE=/WZRTAll\n", 0),
              0u)
        << job;
    EXPECT_NE(job.find("ETC2FILE=\n[EXTRA]\nCODEFILE=x\n"), std::string::npos) << job;
}

TEST_F(SettingsTest, KeysAndSectionsMatchWithoutRegardToCase) {
    WriteAll(SettingsPath(), "[Pelor]\nautodetect=0\nch3_port=5\nBaudrate=921600\n");
    WriteAll(DefaultJob(), "[pelor]\nCodeFile=/img/X\nfontcheck=1\n");
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    EXPECT_EQ(g_bAutoDetect, 0);
    EXPECT_EQ(g_nChPort[3], 5);
    EXPECT_EQ(g_dwBaudRate, 921600);
    EXPECT_STREQ(g_szCodeFile, "/img/X");
    EXPECT_EQ(g_bFontCheck, 1);
    ASSERT_EQ(SETTINGS_Save(), 1);
    EXPECT_EQ(ReadAll(SettingsPath())
                  .rfind("[Pelor]\nautodetect=0\nch3_port=5\nBaudrate=921600\n"
                         "CH0_PORT=0\n",
                         0),
              0u);
}

TEST_F(SettingsTest, AnEmptyJobFileKeyFallsBackToTheDefaultJob) {
    WriteAll(SettingsPath(), "[PELOR]\nPELORFILE=\n");
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    EXPECT_STREQ(g_szJobFile, DefaultJob().c_str());

    const std::string other = dir_ / "other.plr";
    WriteAll(other, "[PELOR]\nFONTCHECK=1\n");
    WriteAll(SettingsPath(), "[PELOR]\nPELORFILE=" + other + "\n");
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    EXPECT_STREQ(g_szJobFile, other.c_str());
    EXPECT_EQ(g_bFontCheck, 1);
}

TEST_F(SettingsTest, AGivenJobFileIsLoadedAndRememberedAtTheNextSave) {
    WriteAll(SettingsPath(), "[PELOR]\nAUTODETECT=0\nPELORFILE=" + DefaultJob() + "\n");
    const std::string chosen = dir_ / "chosen.plr";
    WriteAll(chosen, "[PELOR]\nCODEFILE=/x/Y\n");
    g_bAutoDetect = 1;  // changed since the last save: the load brings back the saved value
    ASSERT_EQ(SETTINGS_Load(chosen.c_str()), 1);
    EXPECT_EQ(g_bAutoDetect, 0);
    EXPECT_STREQ(g_szJobFile, chosen.c_str());
    EXPECT_STREQ(g_szImageBaseName, "/Y");
    ASSERT_EQ(SETTINGS_Save(), 1);
    IniDocument doc;
    ASSERT_EQ(doc.Load(SettingsPath()), 1);
    std::string value;
    ASSERT_TRUE(doc.Get("PELOR", "PELORFILE", &value));
    EXPECT_EQ(value, chosen);
}

TEST_F(SettingsTest, AnEmptyJobPathSkipsTheJobFile) {
    FillJobGlobals();
    g_bEraseNand = 1;
    ASSERT_EQ(SETTINGS_Load(""), 1);
    EXPECT_STREQ(g_szJobFile, "");
    EXPECT_STREQ(g_szCodeFile, "/data/images/BUILD42");  // previous job values stay
    EXPECT_EQ(g_bEraseNand, 1);
    ASSERT_EQ(SETTINGS_Save(), 1);
    EXPECT_EQ(config_test::List(dir_.path()), std::vector<std::string>{"pelorw.ini"});
    EXPECT_NE(ReadAll(SettingsPath()).find("PELORFILE=\n"), std::string::npos);
}

TEST_F(SettingsTest, AJobFileWithoutCodeCheckSelectsTheCodeRow) {
    WriteAll(DefaultJob(), "[PELOR]\nFONTCHECK=1\n");
    g_bCodeCheck = 0;
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    EXPECT_EQ(g_bCodeCheck, 1);
    WriteAll(DefaultJob(), "[PELOR]\nCODECHECK=0\n");
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    EXPECT_EQ(g_bCodeCheck, 0);
}

// The window's load and `pelor flash --job` read a row's check key alike.
TEST_F(SettingsTest, AnyNumberButZeroTicksARowForTheWindowAndTheCommandLine) {
    for (const char* value : {"1", "2", "-1", "0", "yes"}) {
        const bool ticked = std::string(value) != "0" && std::string(value) != "yes";
        WriteAll(DefaultJob(),
                 std::string("[PELOR]\nCODECHECK=") + value + "\nETC2CHECK=" + value + "\n");
        ASSERT_EQ(SETTINGS_Load(nullptr), 1);
        EXPECT_EQ(g_bCodeCheck, ticked ? 1 : 0) << value;
        EXPECT_EQ(g_bEtc2Check, ticked ? 1 : 0) << value;
        EXPECT_EQ(SETTINGS_JobRowChecked(DefaultJob(), "CODECHECK"), ticked) << value;
        EXPECT_EQ(SETTINGS_JobRowChecked(DefaultJob(), "ETC2CHECK"), ticked) << value;
    }
    WriteAll(DefaultJob(), "[PELOR]\n");
    EXPECT_TRUE(SETTINGS_JobRowChecked(DefaultJob(), "CODECHECK"));
    EXPECT_FALSE(SETTINGS_JobRowChecked(DefaultJob(), "ETC2CHECK"));
}

TEST_F(SettingsTest, LongTextsAreCutToTheirCapacitiesButPathsAreNever) {
    const std::string address(40, 'A');
    const std::string file(300, 'f');
    const std::string component(80, 'c');
    WriteAll(DefaultJob(), "[PELOR]\nFONTADDRESS=" + address +
                               "\nDATAADDRESS=" + address.substr(0, 31) + "\nETC1FILE=" + file +
                               "\nCODEFILE=/img/" + component + "\n");
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    EXPECT_EQ(std::string(g_szFontAddress), address.substr(0, 31));
    EXPECT_EQ(std::string(g_szDataAddress), address.substr(0, 31));
    // A cut path would name another file: the row keeps its value, and the operator is told.
    EXPECT_EQ(std::string(g_szEtc1File), "");
    EXPECT_EQ(SETTINGS_TakeNotices(),
              std::vector<std::string>{"ETC1FILE ignored: its path is 300 characters, at most "
                                       "260 fit"});
    EXPECT_TRUE(SETTINGS_TakeNotices().empty()) << "each notice once";
    EXPECT_EQ(std::string(g_szCodeFile), "/img/" + component);
    EXPECT_EQ(std::string(g_szImageFolder), "/img/" + component);
    EXPECT_EQ(std::string(g_szImageBaseName), "/" + component.substr(0, 50));
    // The next save leaves the refused path in the job file as it stands.
    ASSERT_EQ(SETTINGS_Save(), 1);
    EXPECT_NE(ReadAll(DefaultJob()).find("ETC1FILE=" + file + "\n"), std::string::npos);
}

TEST_F(SettingsTest, AJobPathTooLongForItsSettingLoadsNoJobAndIsNotRewrittenCut) {
    const std::string longJob = dir_ / std::string(300, 'j');
    WriteAll(SettingsPath(), "[PELOR]\nPELORFILE=" + longJob + "\n");
    WriteAll(DefaultJob(), "[PELOR]\nCODEFILE=/elsewhere\n");
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    EXPECT_EQ(std::string(g_szJobFile), "") << "neither the cut path nor another job";
    EXPECT_EQ(std::string(g_szCodeFile), "/WZRTAll");
    ASSERT_EQ(SETTINGS_TakeNotices().size(), 1u);
    ASSERT_EQ(SETTINGS_Save(), 1);
    EXPECT_NE(ReadAll(SettingsPath()).find("PELORFILE=" + longJob + "\n"), std::string::npos);

    // Given directly (the window's Load), the same.
    SETTINGS_CopyText(g_szJobFile, DefaultJob());
    ASSERT_EQ(SETTINGS_Load(longJob.c_str()), 1);
    EXPECT_EQ(std::string(g_szJobFile), DefaultJob());
    EXPECT_EQ(SETTINGS_TakeNotices().size(), 1u);

    // Once the operator picks another job, it is written as usual.
    ASSERT_EQ(SETTINGS_Save(), 1);
    EXPECT_NE(ReadAll(SettingsPath()).find("PELORFILE=" + DefaultJob() + "\n"), std::string::npos);
}

TEST(SettingsCopyText, CutsToCapacityAndAlwaysTerminates) {
    char small[4];
    SETTINGS_CopyText(small, "abcdef");
    EXPECT_STREQ(small, "abc");
    SETTINGS_CopyText(small, nullptr);
    EXPECT_STREQ(small, "");
    SETTINGS_CopyText(small, std::string("xy"));
    EXPECT_STREQ(small, "xy");
    char untouched = 'q';
    SETTINGS_CopyText(&untouched, 0, "abc");
    EXPECT_EQ(untouched, 'q');
}

TEST(SettingsSplitCodePath, BaseNameIsTheSeparatorAndTheLastComponent) {
    struct Case {
        const char* path;
        const char* base;
    };
    const Case cases[] = {
        {"/WZRTAll", "/WZRTAll"},
        {"/img/WZRTAll", "/WZRTAll"},
        {"/img/WZRTAll/", "/"},
        {"WZRTAll", "WZRTAll"},
        {"", ""},
        {"rel/dir/B1", "/B1"},
    };
    for (const Case& c : cases) {
        SETTINGS_CopyText(g_szCodeFile, c.path);
        SETTINGS_SplitCodePath();
        EXPECT_STREQ(g_szImageFolder, c.path);
        EXPECT_STREQ(g_szImageBaseName, c.base) << c.path;
    }
    SETTINGS_ResetGlobals();
}

TEST_F(SettingsTest, InitDirectoryTakesTheCurrentFolder) {
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    SETTINGS_InitDirectory();
    if (std::strlen(cwd) <= 260) {
        EXPECT_STREQ(g_szWorkDir, cwd);
    } else {
        EXPECT_STREQ(g_szWorkDir, ".");
    }
    EXPECT_EQ(SETTINGS_FilePath(), std::string(g_szWorkDir) + "/pelorw.ini");
    // Before the work folder is known the file is named relatively, never at the root.
    g_szWorkDir[0] = '\0';
    EXPECT_EQ(SETTINGS_FilePath(), "pelorw.ini");
}

TEST_F(SettingsTest, AFailedSaveReturnsZeroAndKeepsTheOldFiles) {
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    ASSERT_EQ(SETTINGS_Save(), 1);
    const std::string oldSettings = ReadAll(SettingsPath());
    const std::string oldJob = ReadAll(DefaultJob());

    // The disk fills up while the new files are written.
    g_nDelay = 9;
    SETTINGS_CopyText(g_szEtc1File, std::string(200, 'e'));
    {
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        auto* oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = 64;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const int result = SETTINGS_Save();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(result, 0);
    }
    EXPECT_EQ(ReadAll(SettingsPath()), oldSettings);
    EXPECT_EQ(ReadAll(DefaultJob()), oldJob);
    EXPECT_EQ(config_test::List(dir_.path()),
              (std::vector<std::string>{"default.plr", "pelorw.ini"}));

    // A job file in a folder that does not exist: the settings file is still written.
    const std::string lost = dir_ / "gone/job.plr";
    SETTINGS_CopyText(g_szJobFile, lost);
    EXPECT_EQ(SETTINGS_Save(), 0);
    EXPECT_NE(ReadAll(SettingsPath()).find("PELORFILE=" + lost), std::string::npos);

    // A work folder that is a file.
    SETTINGS_CopyText(g_szWorkDir, DefaultJob());
    SETTINGS_CopyText(g_szJobFile, "");
    EXPECT_EQ(SETTINGS_Save(), 0);
    EXPECT_EQ(ReadAll(DefaultJob()), oldJob);
}

TEST_F(SettingsTest, AFolderWithoutWriteAccessFailsTheSave) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    ASSERT_EQ(SETTINGS_Save(), 1);
    const std::string old = ReadAll(SettingsPath());
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0555), 0);
    g_nDelay = 9;
    EXPECT_EQ(SETTINGS_Save(), 0);
    ::chmod(dir_.path().c_str(), 0700);
    EXPECT_EQ(ReadAll(SettingsPath()), old);
}

TEST_F(SettingsTest, TheSettleTimeAfterGoIsReadInMillisecondsAndNonsenseKeepsTheDefault) {
    const struct {
        const char* text;
        int ms;
    } cases[] = {
        {"", 10000},
        {"SETTLE=2500\n", 2500},
        {"SETTLE=0\n", 0},
        {"SETTLE=-1\n", 10000},
        {"SETTLE=600000\n", 600000},
        {"SETTLE=600001\n", 10000},
        {"SETTLE=soon\n", 10000},
    };
    for (const auto& c : cases) {
        WriteAll(SettingsPath(), std::string("[PELOR]\n") + c.text);
        EXPECT_EQ(SETTINGS_RestartSettleMs(SettingsPath(), 10000), c.ms) << c.text;
    }
    // The window's close keeps the key.
    WriteAll(SettingsPath(), "[PELOR]\nSETTLE=2500\n");
    ASSERT_EQ(SETTINGS_Load(nullptr), 1);
    ASSERT_EQ(SETTINGS_Save(false), 1);
    EXPECT_EQ(SETTINGS_RestartSettleMs(SettingsPath(), 10000), 2500);
}
