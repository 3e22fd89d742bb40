// Create Resource Binary from the window: the two notices, the file, the progress on channel
// 0's bar, and an honest notice when the file cannot be written.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <filesystem>

#include "caption_progress_ctrl.h"
#include "config/remembered_folders.h"
#include "dialog_template.h"
#include "qt_main_dlg.h"
#include "resources/resource_builder.h"
#include "ui_test_support.h"

using ui_test::ScriptedDialogs;
using ui_test::StationFolder;
using ui_test::WriteAll;

namespace {

class ResourceBinaryTest : public ::testing::Test {
protected:
    void SetUp() override {
        tree_ = folder_ / "rsc";
        std::filesystem::create_directories(tree_ + "/img");
        WriteAll(tree_ + "/a.txt", std::string(10, 'a'));
        WriteAll(tree_ + "/img/b.png", std::string(2000, 'b'));
        dlg_ = std::make_unique<QtMainDlg>(&dialogs_);
    }

    StationFolder folder_;
    std::string tree_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<QtMainDlg> dlg_;
};

}  // namespace

TEST_F(ResourceBinaryTest, BuildsIntoTheChosenFolderWithProgressOnChannelZero) {
    dialogs_.folder = tree_;
    std::vector<std::string> progress;
    dialogs_.onNotice = [&] {
        progress.push_back(dlg_->ChannelBar(0)->GetWindowText().toStdString());
    };
    dlg_->Button(IDC_CREATE_RESOURCE_BINARY)->click();

    ASSERT_EQ(dialogs_.browsed.size(), 1u);
    EXPECT_EQ(dialogs_.browsed[0].first, "Select Resource folder");
    EXPECT_EQ(dialogs_.browsed[0].second, folder_.path());  // nothing remembered yet
    EXPECT_EQ(dialogs_.notices,
              (std::vector<std::string>{kResourceStartPrompt, kResourceDoneText}));
    // When the success notice showed, the bar held the last file's progress.
    EXPECT_EQ(progress.at(1), "resource : 50% [2/2]");
    EXPECT_EQ(std::filesystem::file_size(tree_ + "/VORODOV_rsc.bin"), 4096u);
    CCaptionProgressCtrl* bar = dlg_->ChannelBar(0);
    EXPECT_TRUE(bar->GetWindowText().isEmpty());
    EXPECT_EQ(bar->Pos(), 0);
}

TEST_F(ResourceBinaryTest, TheBrowserStartsAtTheRememberedResourceImagesFolder) {
    ASSERT_EQ(REG_WriteFolder(kRegRscFile, tree_ + "/old/VORODOV_rsc.bin"), 1);
    dlg_->OnCreateResourceBinary();  // cancelled: nothing more happens
    ASSERT_EQ(dialogs_.browsed.size(), 1u);
    EXPECT_EQ(dialogs_.browsed[0].second, tree_ + "/old");
    EXPECT_TRUE(dialogs_.notices.empty());
    EXPECT_FALSE(std::filesystem::exists(tree_ + "/VORODOV_rsc.bin"));
}

TEST_F(ResourceBinaryTest, AFileThatCannotBeWrittenIsReportedNotCreated) {
    // A folder in the way of the output file: the build cannot put its file there.
    std::filesystem::create_directories(tree_ + "/VORODOV_rsc.bin");
    dialogs_.folder = tree_;
    dlg_->OnCreateResourceBinary();
    ASSERT_EQ(dialogs_.notices.size(), 2u);
    EXPECT_EQ(dialogs_.notices[0], kResourceStartPrompt);
    EXPECT_NE(dialogs_.notices[1], kResourceDoneText);
    EXPECT_EQ(dialogs_.notices[1].find("created!!"), std::string::npos);
    EXPECT_NE(dialogs_.notices[1].find("not created"), std::string::npos) << dialogs_.notices[1];
    EXPECT_TRUE(std::filesystem::is_directory(tree_ + "/VORODOV_rsc.bin"));
    EXPECT_TRUE(dlg_->ChannelBar(0)->GetWindowText().isEmpty());
}
