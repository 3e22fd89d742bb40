// The image rows' pickers, Erase NAND and the erase options, Load and Save As of job files, and
// the remembered folders, driven through the window's buttons with scripted boxes and pickers.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <cstdlib>
#include <filesystem>

#include "caption_progress_ctrl.h"
#include "config/remembered_folders.h"
#include "config/settings.h"
#include "dialog_template.h"
#include "qt_main_dlg.h"
#include "qt_ui_dialogs.h"
#include "ui_test_support.h"

using ui_test::ReadAll;
using ui_test::ScriptedDialogs;
using ui_test::StationFolder;
using ui_test::WriteAll;

namespace {

using Strings = std::vector<std::string>;

class RowsJobsTest : public ::testing::Test {
protected:
    std::unique_ptr<QtMainDlg> Start() {
        auto dlg = std::make_unique<QtMainDlg>(&dialogs_);
        dlg->SetExitHandler([](int) { ADD_FAILURE() << "the process would have ended"; });
        return dlg;
    }
    static void Click(QtMainDlg& dlg, int id) { dlg.Button(id)->click(); }

    StationFolder folder_;
    ScriptedDialogs dialogs_;
};

}  // namespace

// --- Erase NAND -----------------------------------------------------------------------------

// --- Pickers --------------------------------------------------------------------------------

TEST_F(RowsJobsTest, FilePickersUseTheirRowsFilterAndShowTheFileInTheBar) {
    auto dlg = Start();
    const struct {
        int pick;
        int bar;
        const char* setting;
        const char* filter;
        const char* defExt;
    } rows[] = {
        {IDC_FONT_PICK, IDC_FONT_BAR, g_szFontFile, "Bootloader Files(*.bin)|*.bin||", "bin"},
        {IDC_DATA_PICK, IDC_DATA_BAR, g_szDataFile, "Data Files(*.dat)|*.dat||", "dat"},
        {IDC_ETC1_PICK, IDC_ETC1_BAR, g_szEtc1File, "Etc Files(*.*)|*.*||", "*"},
        {IDC_RESOURCE_PICK, IDC_RESOURCE_BAR, g_szEtc2File, "RSC Files(*.bin)|*.bin||", "bin"},
    };
    for (const auto& row : rows) {
        const std::string file = folder_ / (std::to_string(row.pick) + ".bin");
        dialogs_.files = {file};
        dialogs_.opened.clear();
        dlg->Button(row.pick)->setEnabled(true);  // the hidden rows' buttons start disabled
        Click(*dlg, row.pick);
        ASSERT_EQ(dialogs_.opened.size(), 1u) << row.pick;
        EXPECT_EQ(dialogs_.opened[0].first, row.filter);
        EXPECT_EQ(dialogs_.opened[0].second, row.defExt);
        EXPECT_STREQ(row.setting, file.c_str());
        EXPECT_EQ(dlg->ControlText(row.bar), file);
        // Cancelled: nothing changes.
        Click(*dlg, row.pick);
        EXPECT_STREQ(row.setting, file.c_str());
        EXPECT_EQ(dlg->ControlText(row.bar), file);
    }
    EXPECT_EQ(UI_QtFilter(rows[0].filter), "Bootloader Files (*.bin)");
    // Only the resource image is remembered, for the resource folder browser.
    EXPECT_EQ(REG_ReadFolder(kRegRscFile), folder_ / (std::to_string(IDC_RESOURCE_PICK) + ".bin"));
    EXPECT_EQ(REG_ReadFolder(kRegBinFile), "");

    // A path the setting cannot hold is refused whole, not cut.
    const std::string longPath = folder_ / (std::string(300, 'x') + ".bin");
    dialogs_.files = {longPath};
    Click(*dlg, IDC_RESOURCE_PICK);
    ASSERT_EQ(dialogs_.notices.size(), 1u);
    EXPECT_NE(dialogs_.notices[0].find("too long"), std::string::npos);
    EXPECT_EQ(REG_ReadFolder(kRegRscFile), g_szEtc2File);
    EXPECT_EQ(dlg->ControlText(IDC_RESOURCE_BAR), g_szEtc2File);
}

TEST_F(RowsJobsTest, ChoosingTheCodeFolderSetsTheBarTheBaseNameAndTheRememberedFolder) {
    ASSERT_EQ(REG_WriteFolder(kRegBinFile, folder_ / "old"), 1);
    auto dlg = Start();
    const std::string build7 = folder_ / "fw/build7";
    dialogs_.folder = build7;
    Click(*dlg, IDC_CODE_PICK);
    ASSERT_EQ(dialogs_.browsed.size(), 1u);
    EXPECT_EQ(dialogs_.browsed[0].first, "Select *.mbn folder");
    EXPECT_EQ(dialogs_.browsed[0].second, folder_ / "old");
    EXPECT_STREQ(g_szCodeFile, build7.c_str());
    EXPECT_STREQ(g_szImageFolder, build7.c_str());
    EXPECT_STREQ(g_szImageBaseName, "/build7");
    EXPECT_EQ(dlg->ControlText(IDC_CODE_BAR), build7);
    EXPECT_EQ(REG_ReadFolder(kRegBinFile), build7);

    // The next browse opens there; cancelling changes nothing.
    dialogs_.folder.clear();
    Click(*dlg, IDC_CODE_PICK);
    EXPECT_EQ(dialogs_.browsed[1].second, build7);
    EXPECT_STREQ(g_szCodeFile, build7.c_str());
    EXPECT_EQ(REG_ReadFolder(kRegBinFile), build7);

    // A last component longer than the image base name can hold would name other files.
    dialogs_.folder = folder_ / std::string(60, 'n');
    Click(*dlg, IDC_CODE_PICK);
    EXPECT_EQ(dialogs_.notices.size(), 1u);
    EXPECT_STREQ(g_szCodeFile, build7.c_str());
    EXPECT_EQ(REG_ReadFolder(kRegBinFile), build7);
}

TEST_F(RowsJobsTest, RememberedFoldersSurviveARestartWholeWhateverTheirLength) {
    // The store's default place: $XDG_CONFIG_HOME/VELDRIN/QUILLSTREAM.ini.
    REG_SetConfigRootForTesting("");
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string previous = old != nullptr ? old : "";
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", (folder_ / "xdg").c_str(), 1), 0);

    const std::string deep =
        folder_ / (std::string(60, 'a') + "/" + std::string(60, 'b') + "/" + "build7");
    ASSERT_GT(deep.size(), 127u);
    const std::string resource = deep + "/VORODOV_rsc.bin";
    {
        auto dlg = Start();
        dialogs_.folder = deep;
        Click(*dlg, IDC_CODE_PICK);
        dialogs_.files = {resource};
        Click(*dlg, IDC_RESOURCE_PICK);
    }
    const std::string store = ReadAll(folder_ / "xdg/VELDRIN/QUILLSTREAM.ini");
    EXPECT_NE(store.find("BIN_FILE=" + deep + "\n"), std::string::npos) << store;

    // The next start: both browsers open where the last picks were.
    ScriptedDialogs next;
    {
        QtMainDlg dlg(&next);
        dlg.OnPickCodeFolder();
        dlg.OnCreateResourceBinary();
    }
    ASSERT_EQ(next.browsed.size(), 2u);
    EXPECT_EQ(next.browsed[0].second, deep);
    EXPECT_EQ(next.browsed[1].first, "Select Resource folder");
    EXPECT_EQ(next.browsed[1].second, deep);  // the folder of the remembered resource image

    if (previous.empty()) {
        ::unsetenv("XDG_CONFIG_HOME");
    } else {
        ::setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
    }
}

// --- Load and Save As -----------------------------------------------------------------------

TEST_F(RowsJobsTest, LoadReadsTheJobAndTheSettingsFileAgain) {
    WriteAll(folder_ / "pelorw.ini", "[PELOR]\nAUTODETECT=1\nCH0_PORT=4\n");
    WriteAll(folder_ / "line7.plr", "[PELOR]\nCODECHECK=0\nETC2CHECK=1\nETC2FILE=/fw/r.bin\n");
    auto dlg = Start();
    // A device arrives and Auto gives it to channel 0; then Auto is turned off by hand.
    dlg->OnDeviceArrived("/dev/ttyUSB7");
    ASSERT_EQ(dlg->Port(0), 1);
    ASSERT_FALSE(dlg->PortSelector(0)->isEnabled());
    Click(*dlg, IDC_AUTO);
    ASSERT_FALSE(dlg->IsChecked(IDC_AUTO));

    dialogs_.files = {folder_ / "line7.plr"};
    Click(*dlg, IDC_LOAD);
    ASSERT_EQ(dialogs_.opened.size(), 1u);
    EXPECT_EQ(dialogs_.opened[0],
              (std::pair<std::string, std::string>{"Pelor Files(*.plr)|*.plr||", "plr"}));
    EXPECT_EQ(dlg->ControlText(IDC_JOB_FILE), folder_ / "line7.plr");
    EXPECT_STREQ(g_szJobFile, (folder_ / "line7.plr").c_str());
    // The saved Auto setting is back, and with it no channel has a port.
    EXPECT_TRUE(dlg->IsChecked(IDC_AUTO));
    for (int ch = 0; ch < kChannels; ++ch) {
        EXPECT_EQ(dlg->Port(ch), 0) << ch;
        EXPECT_EQ(dlg->PortSelector(ch)->currentIndex(), 0) << ch;
        EXPECT_TRUE(dlg->PortSelector(ch)->isEnabled()) << ch;
    }
    EXPECT_FALSE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    EXPECT_FALSE(dlg->IsChecked(IDC_CODE_CHECK));
    EXPECT_TRUE(dlg->IsChecked(IDC_RESOURCE_CHECK));
    EXPECT_EQ(dlg->ControlText(IDC_RESOURCE_BAR), "/fw/r.bin");

    // Cancelled: nothing changes.
    Click(*dlg, IDC_LOAD);
    EXPECT_EQ(dlg->ControlText(IDC_JOB_FILE), folder_ / "line7.plr");
}

TEST_F(RowsJobsTest, SaveAsWritesANewJobAndAsksBeforeReplacingOne) {
    auto dlg = Start();
    Click(*dlg, IDC_RESOURCE_CHECK);
    dialogs_.files = {folder_ / "line9.plr"};
    Click(*dlg, IDC_SAVE_AS);
    ASSERT_EQ(dialogs_.saved.size(), 1u);
    EXPECT_EQ(dialogs_.saved[0],
              (std::pair<std::string, std::string>{"Pelor Files(*.plr)|*.plr||", "plr"}));
    EXPECT_TRUE(dialogs_.questions.empty());
    EXPECT_EQ(dlg->ControlText(IDC_JOB_FILE), folder_ / "line9.plr");
    EXPECT_NE(ReadAll(folder_ / "line9.plr").find("ETC2CHECK=1"), std::string::npos);
    EXPECT_NE(ReadAll(folder_ / "pelorw.ini").find("PELORFILE=" + (folder_ / "line9.plr")),
              std::string::npos);

    // An existing file: No writes nothing and keeps the current job.
    WriteAll(folder_ / "old.plr", "[PELOR]\nCODECHECK=0\n");
    Click(*dlg, IDC_RESOURCE_CHECK);
    dialogs_.files = {folder_ / "old.plr"};
    Click(*dlg, IDC_SAVE_AS);
    EXPECT_EQ(dialogs_.questions, Strings{"old.plr already exists. Replace it?"});
    EXPECT_EQ(ReadAll(folder_ / "old.plr"), "[PELOR]\nCODECHECK=0\n");
    EXPECT_EQ(dlg->ControlText(IDC_JOB_FILE), folder_ / "line9.plr");
    EXPECT_STREQ(g_szJobFile, (folder_ / "line9.plr").c_str());
    EXPECT_NE(ReadAll(folder_ / "line9.plr").find("ETC2CHECK=1"), std::string::npos);

    // Yes replaces it.
    dialogs_.answers = {true};
    dialogs_.files = {folder_ / "old.plr"};
    Click(*dlg, IDC_SAVE_AS);
    const std::string job = ReadAll(folder_ / "old.plr");
    EXPECT_NE(job.find("CODECHECK=1"), std::string::npos) << job;
    EXPECT_NE(job.find("ETC2CHECK=0"), std::string::npos) << job;
    EXPECT_EQ(dlg->ControlText(IDC_JOB_FILE), folder_ / "old.plr");
    EXPECT_TRUE(dialogs_.notices.empty());
}
