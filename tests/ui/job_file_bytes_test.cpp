// Job file paths pass between the Qt window and its logic as the file system's bytes: a name
// that is not valid UTF-8 is shown as best Qt can, and written back under its own name, never
// under a second one made of replacement characters.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFile>
#include <QLineEdit>
#include <filesystem>

#include "config/settings.h"
#include "dialog_template.h"
#include "qt_main_dlg.h"
#include "qt_paths.h"
#include "ui_test_support.h"

using ui_test::Exists;
using ui_test::ReadAll;
using ui_test::ScriptedDialogs;
using ui_test::StationFolder;
using ui_test::WriteAll;

namespace {

class JobFileBytesTest : public ::testing::Test {
protected:
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder_.path())) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    StationFolder folder_;
    ScriptedDialogs dialogs_;
    const std::string latin1_ = "Linie-\xE9t\xE9.plr";  // "Linie-été.plr" in Latin-1
};

}  // namespace

TEST_F(JobFileBytesTest, ANonUtf8JobFileIsLoadedAndWrittenBackUnderItsOwnName) {
    const std::string job = folder_ / latin1_;
    WriteAll(job, "[PELOR]\nCODEFILE=/fw/line7\n");
    WriteAll(folder_ / "pelorw.ini", "[PELOR]\nPELORFILE=" + job + "\n");
    {
        QtMainDlg dlg(&dialogs_);
        dlg.SetExitHandler([](int) { ADD_FAILURE() << "the process would have ended"; });
        EXPECT_TRUE(dlg.ControlText(IDC_STATUS_LINE).empty()) << dlg.ControlText(IDC_STATUS_LINE);
        EXPECT_STREQ(g_szCodeFile, "/fw/line7");
        EXPECT_EQ(dlg.ControlText(IDC_JOB_FILE), job);
        dlg.Button(IDC_RESOURCE_CHECK)->click();
        EXPECT_TRUE(dlg.OnClose());
    }
    EXPECT_EQ(Entries(), (std::vector<std::string>{latin1_, "pelorw.ini"}));
    EXPECT_NE(ReadAll(job).find("ETC2CHECK=1"), std::string::npos);
    EXPECT_NE(ReadAll(folder_ / "pelorw.ini").find("PELORFILE=" + job + "\n"), std::string::npos);
}

TEST_F(JobFileBytesTest, APickersAnswerAndTypedTextBecomeTheFileSystemsBytes) {
    const std::string sub = folder_ / "Fw-\xE9";  // a folder with a Latin-1 name too
    std::filesystem::create_directories(sub);
    const std::string job = sub + "/" + latin1_;
    WriteAll(job, "");
    // What the picker answers: the text Qt shows for the name.
    const QString shown = QFile::decodeName(QByteArray::fromStdString(job));
    EXPECT_EQ(UI_PathFromQt(shown), job);
    // A new file in that folder keeps its typed name.
    EXPECT_EQ(UI_PathFromQt(QFile::decodeName(QByteArray::fromStdString(sub)) + "/new.plr"),
              sub + "/new.plr");
    EXPECT_EQ(UI_PathFromQt(QStringLiteral("/tmp/plain.plr")), "/tmp/plain.plr");

    // The edit gives back what it was set to until the operator edits it.
    QtMainDlg dlg(&dialogs_);
    dlg.SetControlText(IDC_JOB_FILE, job);
    EXPECT_EQ(dlg.ControlText(IDC_JOB_FILE), job);
    dlg.Edit(IDC_JOB_FILE)->setText(shown);  // retyped as shown
    EXPECT_EQ(dlg.ControlText(IDC_JOB_FILE), job);
    dlg.Edit(IDC_JOB_FILE)->setText(QStringLiteral("/tmp/other.plr"));
    EXPECT_EQ(dlg.ControlText(IDC_JOB_FILE), "/tmp/other.plr");
}
