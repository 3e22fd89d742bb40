// The operator's files are never lost: closing writes the job only into the job file the window
// loaded (never over one it could not read, nor one named as a Windows path on another system),
// a read-only file is left as it is, and what the boxes show after a load is what will happen.
#include <algorithm>
#include <filesystem>

#include "config/settings.h"
#include "dialog_template.h"
#include "window_fixture.h"

using namespace window_test;
namespace fs = std::filesystem;

namespace {

class WindowJobFileTest : public WindowTest {
protected:
    void TearDown() override {
        // The folder goes away with the test; a locked file must not stop that.
        for (const std::string& path : locked_) {
            std::error_code ec;
            fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
        }
    }
    void Lock(const std::string& path) {
        fs::permissions(path,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        locked_.push_back(path);
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder_.path())) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::vector<std::string> locked_;
};

}  // namespace

TEST_F(WindowJobFileTest, AJobFileMissingAtStartIsNamedAndNeverWrittenOnClosing) {
    fs::create_directories(folder_ / "stick");
    struct Case {
        std::string path;
        const char* said;
    };
    const Case cases[] = {
        {folder_ / "stick/line7.plr", "not found"},  // a stick mounted after the window started
#ifndef _WIN32
        {"C:\\Pelor\\line7.plr", "not found (a Windows path)"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string settings = "[PELOR]\nAUTODETECT=1\nPELORFILE=" + c.path + "\n";
        auto dlg = Start(settings);
        EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE),
                  "Job file " + c.path + " " + c.said + ": defaults shown, not saved on closing");
        EXPECT_EQ(dlg->ControlText(IDC_JOB_FILE), c.path);
        Click(*dlg, IDC_RESOURCE_CHECK);  // a change that closing would otherwise save
        EXPECT_TRUE(dlg->OnClose());
        EXPECT_TRUE(dialogs_.notices.empty());
        EXPECT_FALSE(fs::exists(c.path));
        EXPECT_EQ(Entries(), (Strings{"pelorw.ini", "stick"}));
        EXPECT_NE(ReadAll(Settings()).find("PELORFILE=" + c.path + "\n"), std::string::npos);
    }

    // The stick is mounted while the window is open: closing still leaves its job alone, and
    // Save As is how the window's choices get there.
    const std::string stick = folder_ / "stick/line7.plr";
    WriteAll(Settings(), "[PELOR]\nPELORFILE=" + stick + "\n");
    auto dlg = Start();
    const std::string job = "[PELOR]\nCODEFILE=/fw/line7\nETC2CHECK=1\n";
    WriteAll(stick, job);
    EXPECT_TRUE(dlg->OnClose());
    EXPECT_EQ(ReadAll(stick), job);

    auto saving = Start();
    dialogs_.files = {stick};
    dialogs_.answers = {true};
    Click(*saving, IDC_SAVE_AS);
    EXPECT_NE(ReadAll(stick).find("CODEFILE=" + std::string(g_szCodeFile)), std::string::npos);
}

TEST_F(WindowJobFileTest, AJobFileNamedInTheEditIsRememberedButNotWritten) {
    auto dlg = Start();
    dlg->SetControlText(IDC_JOB_FILE, folder_ / "typed.plr");
    EXPECT_TRUE(dlg->OnClose());
    EXPECT_EQ(Entries(), (Strings{"pelorw.ini"}));
    EXPECT_NE(ReadAll(Settings()).find("PELORFILE=" + (folder_ / "typed.plr")), std::string::npos);
}

// A job (or the bench's settings) locked read-only is the line's: the window says so at start
// and leaves it as it is on closing, and Save As onto it is refused with one line.
TEST_F(WindowJobFileTest, AReadOnlyFileIsNamedAndNotReplaced) {
    const std::string job = "[PELOR]\nCODEFILE=/fw/locked\n";
    const std::string settings = "[PELOR]\nAUTODETECT=0\nCH0_PORT=3\n";
    for (const bool lockSettings : {false, true}) {
        SCOPED_TRACE(lockSettings ? "settings locked too" : "job locked");
        WriteAll(Job(), job);
        WriteAll(Settings(), settings);
        Lock(Job());
        if (lockSettings) Lock(Settings());
        auto dlg = Start();
        const std::string status = dlg->ControlText(IDC_STATUS_LINE);
        EXPECT_NE(status.find("Job file " + Job() + " is read-only: not saved on closing"),
                  std::string::npos)
            << status;
        EXPECT_EQ(status.find("pelorw.ini is read-only") != std::string::npos, lockSettings)
            << status;
        Click(*dlg, IDC_RESOURCE_CHECK);
        dlg->SetChannelPort(0, 7);
        EXPECT_TRUE(dlg->OnClose());
        EXPECT_TRUE(dialogs_.notices.empty());
        EXPECT_EQ(ReadAll(Job()), job);
        EXPECT_EQ(ReadAll(Settings()) == settings, lockSettings);
        for (const std::string& path : locked_)
            fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        locked_.clear();
    }

    auto dlg = Start();
    WriteAll(folder_ / "line.plr", job);
    Lock(folder_ / "line.plr");
    dialogs_.files = {folder_ / "line.plr"};
    Click(*dlg, IDC_SAVE_AS);
    EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE),
              (folder_ / "line.plr") + " is read-only: not replaced");
    EXPECT_TRUE(dialogs_.questions.empty());
    EXPECT_EQ(ReadAll(folder_ / "line.plr"), job);
    EXPECT_EQ(dlg->ControlText(IDC_JOB_FILE), Job());
}

TEST_F(WindowJobFileTest, EraseNandFollowsTheSettingAfterEveryLoad) {
    WriteAll(folder_ / "line.plr", "[PELOR]\nCODECHECK=1\n");
    auto dlg = Start();
    dialogs_.answers = {true, true};
    Click(*dlg, IDC_ERASE_NAND);
    ASSERT_TRUE(dlg->IsChecked(IDC_ERASE_NAND));
    ASSERT_EQ(g_bEraseNand, 1);
    dialogs_.files = {folder_ / "line.plr"};
    Click(*dlg, IDC_LOAD);
    EXPECT_EQ(g_bEraseNand, 0);
    EXPECT_FALSE(dlg->IsChecked(IDC_ERASE_NAND));
    EXPECT_TRUE(dlg->IsChecked(IDC_ERASE_NONE));
    EXPECT_FALSE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
}
