// The main dialog: built from its template, started from the settings, the handlers start-up
// needs, the status display, and the ways it closes.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "caption_progress_ctrl.h"
#include "config/settings.h"
#include "dialog_template.h"
#include "jobs/runner.h"
#include "jobs/status.h"
#include "link/image_table.h"
#include "qt_main_dlg.h"
#include "transport/serial_port.h"
#include "ui_test_support.h"

using ui_test::Exists;
using ui_test::ReadAll;
using ui_test::ScriptedDialogs;
using ui_test::StationFolder;
using ui_test::WriteAll;

namespace {

class MainDlgTest : public ::testing::Test {
protected:
    // A dialog started in the test's folder; its closing never ends the test program.
    std::unique_ptr<QtMainDlg> Start() {
        auto dlg = std::make_unique<QtMainDlg>(&dialogs_);
        dlg->SetExitHandler([this](int code) { exitCodes_.push_back(code); });
        return dlg;
    }
    std::string Settings() const { return folder_ / "pelorw.ini"; }
    std::string Job() const { return folder_ / "default.plr"; }

    StationFolder folder_;
    ScriptedDialogs dialogs_;
    std::vector<int> exitCodes_;
};

IMAGE_ENTRY Progress(int channel, int slot, int sent, int size) {
    IMAGE_ENTRY e;
    e.nChannel = channel;
    e.nSlot = slot;
    e.nSent = sent;
    e.nSize = size;
    return e;
}

IMAGE_ENTRY ChannelText(int channel, const char* text) {
    IMAGE_ENTRY e{};
    e.nSlot = 0;
    e.dwAddress = 0;
    e.nChannel = channel;
    std::strncpy(e.szPath, text, sizeof e.szPath - 1);
    return e;
}

}  // namespace

// --- The template ---------------------------------------------------------------------------

TEST_F(MainDlgTest, TemplateCreatesEveryControlNamedByItsIdInTabOrder) {
    auto dlg = Start();
    int named = 0;
    for (const DialogControl& c : kMainDialogTemplate) {
        if (c.id == IDC_STATIC) continue;
        ++named;
        QWidget* w = dlg->findChild<QWidget*>(QString::number(c.id));
        ASSERT_NE(w, nullptr) << c.id;
        EXPECT_EQ(w, dlg->Control(c.id));
        EXPECT_EQ(w->isVisibleTo(dlg.get()), c.visible) << c.id;
        // Where the template puts it (buttons that need more room grow about their middle).
        const QRect r = UI_QRect(dlg->Units().Map(c.x, c.y, c.cx, c.cy));
        EXPECT_EQ(w->x(), r.x()) << c.id;
        if (c.kind != ControlKind::DropDownList) {
            EXPECT_LE(std::abs(w->geometry().center().y() - r.center().y()), 1) << c.id;
        }
    }
    EXPECT_EQ(named, 49);
    QStringList titles;
    for (QGroupBox* box : dlg->findChildren<QGroupBox*>()) titles << box->title();
    titles.sort();
    EXPECT_EQ(titles, (QStringList{"", " Binary", " File ", " Port ", "Erase NAND"}));
    // Tab order follows the template among the controls with a tab stop.
    EXPECT_EQ(dlg->Control(IDC_DOWNLOAD)->nextInFocusChain(), dlg->Control(IDC_JOB_FILE));
}

TEST_F(MainDlgTest, DialogUnitsComeFromTheFontAsWindowsMapsThem) {
    QFont font = UI_DialogFont();
    EXPECT_EQ(font.pointSize(), 9);
    const DialogUnits u = UI_DialogUnits(font);
    const QFontMetrics m(font);
    const int width = m.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(u.baseX, (width + 26) / 52);
    EXPECT_EQ(u.baseY, m.height());
    EXPECT_EQ(u.X(4), u.baseX);
    EXPECT_EQ(u.Y(8), u.baseY);
    // Fixed units: 379 x 323 with base 6 x 13 is 569 x 525 (x*6/4 and y*13/8, rounded).
    const DialogUnits fixed{6, 13};
    EXPECT_EQ(fixed.X(379), 569);
    EXPECT_EQ(fixed.Y(323), 525);
    // Edges are mapped, not sizes: two controls that meet in the template meet on screen.
    EXPECT_EQ(UI_QRect(fixed.Map(1, 1, 1, 1)).right() + 1, UI_QRect(fixed.Map(2, 1, 1, 1)).left());
}

TEST_F(MainDlgTest, WindowHasItsCaptionFixedSizeIconAndOnlyAMinimiseBox) {
    auto dlg = Start();
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("[M6275]U-Pelor v1.3"));
    EXPECT_EQ(dlg->size(), QSize(dlg->Units().X(379), dlg->Units().Y(323)));
    EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());
    const Qt::WindowFlags flags = dlg->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(dlg->windowIcon().isNull());
}

TEST_F(MainDlgTest, VisibleControlsLieInsideTheWindowAndDoNotOverlap) {
    auto dlg = Start();
    dlg->show();
    std::vector<QWidget*> shown;
    for (const DialogControl& c : kMainDialogTemplate) {
        if (c.kind == ControlKind::GroupBox || c.id == IDC_STATIC) continue;
        QWidget* w = dlg->Control(c.id);
        if (w->isVisible()) shown.push_back(w);
    }
    for (std::size_t i = 0; i < shown.size(); ++i) {
        EXPECT_TRUE(dlg->rect().contains(shown[i]->geometry()))
            << shown[i]->objectName().toStdString();
        // A check box's text must fit: its widget is at least as wide as it asks for; a push
        // button's text fits inside it.
        if (auto* b = qobject_cast<QCheckBox*>(shown[i])) {
            EXPECT_GE(b->width(), b->sizeHint().width()) << b->text().toStdString();
        }
        if (auto* b = qobject_cast<QPushButton*>(shown[i])) {
            EXPECT_LT(b->fontMetrics().horizontalAdvance(b->text()), b->width() - 4)
                << b->text().toStdString();
        }
        for (std::size_t j = i + 1; j < shown.size(); ++j) {
            EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                << shown[i]->objectName().toStdString() << " and "
                << shown[j]->objectName().toStdString();
        }
    }
}

// --- Start-up -------------------------------------------------------------------------------

TEST_F(MainDlgTest, FirstStartWithoutSettingsHasAutoOnAndNoPorts) {
    auto dlg = Start();
    EXPECT_TRUE(dlg->IsChecked(IDC_AUTO));
    for (int ch = 0; ch < kChannels; ++ch) {
        QComboBox* selector = dlg->PortSelector(ch);
        ASSERT_EQ(selector->count(), 31);
        EXPECT_EQ(selector->itemText(0), QStringLiteral("-----------"));
        EXPECT_EQ(selector->itemText(30), QStringLiteral("COM30"));
        EXPECT_EQ(selector->currentIndex(), 0);
        EXPECT_EQ(dlg->Port(ch), 0);
    }
    EXPECT_FALSE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    EXPECT_EQ(dlg->Running(), 0);
    EXPECT_TRUE(dlg->IsChecked(IDC_FORMAT));
    EXPECT_EQ(dlg->ControlText(IDC_JOB_FILE), folder_ / "default.plr");
    // The Code row is on; Change Boot Area is off, so the code address is "70000".
    EXPECT_TRUE(dlg->IsChecked(IDC_CODE_CHECK));
    EXPECT_FALSE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "70000");
    EXPECT_EQ(dlg->ControlText(IDC_CODE_BAR), "/WZRTAll");
    EXPECT_FALSE(dlg->IsChecked(IDC_RESOURCE_CHECK));
    EXPECT_FALSE(dlg->Control(IDC_RESOURCE_BAR)->isEnabled());
    for (int id : {IDC_CODE_BAR, IDC_RESOURCE_BAR}) {
        EXPECT_EQ(dlg->Bar(id)->Lower(), 0);
        EXPECT_EQ(dlg->Bar(id)->Upper(), 100);
        EXPECT_EQ(dlg->Bar(id)->Pos(), 0);
    }
    EXPECT_TRUE(dialogs_.questions.empty());
    EXPECT_TRUE(dialogs_.notices.empty());
}

TEST_F(MainDlgTest, SavedPortsAreShownWhenAutoIsOff) {
    WriteAll(Settings(), "[PELOR]\nAUTODETECT=0\nCH3_PORT=5\nCH6_PORT=42\n");
    auto dlg = Start();
    EXPECT_FALSE(dlg->IsChecked(IDC_AUTO));
    EXPECT_EQ(dlg->Port(3), 5);
    EXPECT_EQ(dlg->PortSelector(3)->currentText(), QStringLiteral("COM5"));
    // A port above 30 has no entry, but the channel keeps it.
    EXPECT_EQ(dlg->Port(6), 42);
    EXPECT_EQ(dlg->PortSelector(6)->currentIndex(), -1);
    EXPECT_EQ(dlg->PortSelector(0)->currentIndex(), 0);
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
}

TEST_F(MainDlgTest, JobFileRowsReachTheControls) {
    WriteAll(Settings(), "[PELOR]\nPELORFILE=" + (folder_ / "line7.plr") + "\n");
    WriteAll(folder_ / "line7.plr",
             "[PELOR]\nCODECHECK=0\nCODEFILE=/fw/build7\nETC2CHECK=1\nETC2FILE=/fw/r.bin\n"
             "ETC2ADDRESS=2A\n");
    auto dlg = Start();
    EXPECT_EQ(dlg->ControlText(IDC_JOB_FILE), folder_ / "line7.plr");
    EXPECT_FALSE(dlg->IsChecked(IDC_CODE_CHECK));
    EXPECT_FALSE(dlg->Control(IDC_CODE_BAR)->isEnabled());
    EXPECT_FALSE(dlg->Control(IDC_CHANGE_BOOT_AREA)->isEnabled());
    EXPECT_FALSE(dlg->Control(IDC_CODE_ADDRESS)->isEnabled());
    EXPECT_EQ(dlg->ControlText(IDC_CODE_BAR), "/fw/build7");
    EXPECT_TRUE(dlg->IsChecked(IDC_RESOURCE_CHECK));
    EXPECT_TRUE(dlg->Control(IDC_RESOURCE_BAR)->isEnabled());
    EXPECT_EQ(dlg->ControlText(IDC_RESOURCE_BAR), "/fw/r.bin");
    EXPECT_EQ(dlg->ControlText(IDC_RESOURCE_ADDRESS), "2A");
    EXPECT_EQ(g_bEtc2Check, 1);
}

// --- The handlers start-up needs ------------------------------------------------------------

TEST_F(MainDlgTest, UncheckingCodeLocksItsRowAndResetsChangeBootArea) {
    dialogs_.answers = {true};
    auto dlg = Start();
    dlg->show();
    QTest::mouseClick(dlg->Button(IDC_CHANGE_BOOT_AREA), Qt::LeftButton);
    ASSERT_TRUE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    ASSERT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "0");

    QTest::mouseClick(dlg->Button(IDC_CODE_CHECK), Qt::LeftButton);
    EXPECT_EQ(g_bCodeCheck, 0);
    EXPECT_FALSE(dlg->Control(IDC_CODE_BAR)->isEnabled());
    EXPECT_FALSE(dlg->Control(IDC_CODE_ADDRESS)->isEnabled());
    EXPECT_FALSE(dlg->Control(IDC_CHANGE_BOOT_AREA)->isEnabled());
    EXPECT_FALSE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_EQ(g_bChangeBootArea, 0);
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "70000");
    EXPECT_STREQ(g_szCodeAddress, "70000");
    EXPECT_TRUE(dlg->Control(IDC_CODE_PICK)->isEnabled());

    QTest::mouseClick(dlg->Button(IDC_CODE_CHECK), Qt::LeftButton);
    EXPECT_EQ(g_bCodeCheck, 1);
    EXPECT_TRUE(dlg->Control(IDC_CODE_BAR)->isEnabled());
    EXPECT_TRUE(dlg->Control(IDC_CHANGE_BOOT_AREA)->isEnabled());
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "70000");
    EXPECT_EQ(dialogs_.questions, std::vector<std::string>{"Change Boot Loader?"});
}

TEST_F(MainDlgTest, ChangeBootAreaAnsweredNoChangesNothing) {
    auto dlg = Start();
    dlg->show();
    dialogs_.answers = {false};
    QTest::mouseClick(dlg->Button(IDC_CHANGE_BOOT_AREA), Qt::LeftButton);
    EXPECT_FALSE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_EQ(g_bChangeBootArea, 0);
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "70000");
    dialogs_.answers = {true};
    QTest::mouseClick(dlg->Button(IDC_CHANGE_BOOT_AREA), Qt::LeftButton);
    EXPECT_EQ(g_bChangeBootArea, 1);
    EXPECT_STREQ(g_szCodeAddress, "0");
    // Unchecking asks nothing.
    QTest::mouseClick(dlg->Button(IDC_CHANGE_BOOT_AREA), Qt::LeftButton);
    EXPECT_EQ(dialogs_.questions.size(), 2u);
    EXPECT_STREQ(g_szCodeAddress, "70000");
}

TEST_F(MainDlgTest, RowCheckBoxesEnableTheirBarAndAddressButNotThePicker) {
    auto dlg = Start();
    dlg->Button(IDC_RESOURCE_CHECK)->click();
    EXPECT_EQ(g_bEtc2Check, 1);
    EXPECT_TRUE(dlg->Control(IDC_RESOURCE_BAR)->isEnabled());
    EXPECT_TRUE(dlg->Control(IDC_RESOURCE_ADDRESS)->isEnabled());
    dlg->Button(IDC_RESOURCE_CHECK)->click();
    EXPECT_EQ(g_bEtc2Check, 0);
    EXPECT_FALSE(dlg->Control(IDC_RESOURCE_BAR)->isEnabled());
    EXPECT_TRUE(dlg->Control(IDC_RESOURCE_PICK)->isEnabled());
    // The hidden rows are wired the same way.
    dlg->SetCheck(IDC_DATA_CHECK, true);
    dlg->OnDataCheck();
    EXPECT_EQ(g_bDataCheck, 1);
    EXPECT_TRUE(dlg->Control(IDC_DATA_ADDRESS)->isEnabled());
}

TEST_F(MainDlgTest, FormatFlipsWithItsBox) {
    auto dlg = Start();
    dlg->Button(IDC_FORMAT)->click();
    EXPECT_FALSE(dlg->IsChecked(IDC_FORMAT));
    EXPECT_EQ(g_bFormat.load(), 0);
    dlg->Button(IDC_FORMAT)->click();
    EXPECT_EQ(g_bFormat.load(), 1);
}

// --- The status display ---------------------------------------------------------------------

TEST_F(MainDlgTest, ProgressTextsPercentagesAndBarRanges) {
    auto dlg = Start();
    IMAGE_ENTRY amss = Progress(0, 12, 262144, 1000000);
    EXPECT_EQ(dlg->OnDownloadStatus(STATUS_PROGRESS, &amss), 0);
    CCaptionProgressCtrl* bar0 = dlg->ChannelBar(0);
    EXPECT_EQ(bar0->GetWindowText(), QStringLiteral("AMSS: 26% [262144/1000000]"));
    EXPECT_EQ(bar0->Upper(), 1000000);
    EXPECT_EQ(bar0->Pos(), 262144);

    IMAGE_ENTRY pbl = Progress(4, 6, 524288, 5242880);
    dlg->OnDownloadStatus(STATUS_PROGRESS, &pbl);
    CCaptionProgressCtrl* bar4 = dlg->Bar(1039);
    EXPECT_EQ(bar4->GetWindowText(), QStringLiteral("PBL: 10% [524288/5242880]"));
    EXPECT_EQ(bar4->Lower(), 0);
    EXPECT_EQ(bar4->Upper(), 5242880);
    EXPECT_EQ(bar4->Pos(), 524288);

    // Equal counts, 0 of 0 included, are "Done" with a full bar whatever the slot.
    IMAGE_ENTRY empty = Progress(4, 2, 0, 0);
    dlg->OnDownloadStatus(STATUS_PROGRESS, &empty);
    EXPECT_EQ(bar4->GetWindowText(), QStringLiteral("Done"));
    EXPECT_EQ(bar4->Upper(), 100);
    EXPECT_EQ(bar4->Pos(), 100);

    // Below 100 bytes the percentage is nSent * 100 / nSize (no division by zero).
    IMAGE_ENTRY small = Progress(7, 13, 20, 50);
    dlg->OnDownloadStatus(STATUS_PROGRESS, &small);
    EXPECT_EQ(dlg->Bar(1045)->GetWindowText(), QStringLiteral("Resource: 40% [20/50]"));
}

TEST_F(MainDlgTest, ChannelAndStationTextsGoToTheirOwnControls) {
    auto dlg = Start();
    IMAGE_ENTRY amss = Progress(5, 12, 300000, 1000000);
    dlg->OnDownloadStatus(STATUS_PROGRESS, &amss);
    CCaptionProgressCtrl* bar5 = dlg->Bar(1041);

    IMAGE_ENTRY blank = ChannelText(5, "");
    dlg->OnDownloadStatus(STATUS_CHANNEL_TEXT, &blank);
    EXPECT_EQ(bar5->GetWindowText(), QStringLiteral("AMSS: 30% [300000/1000000]"));
    EXPECT_EQ(bar5->Pos(), 300000);

    IMAGE_ENTRY open = ChannelText(5, "ERR: Open");
    dlg->OnDownloadStatus(STATUS_CHANNEL_TEXT, &open);
    EXPECT_EQ(bar5->GetWindowText(), QStringLiteral("ERR: Open"));
    EXPECT_EQ(bar5->Upper(), 100);
    EXPECT_EQ(bar5->Pos(), 0);

    dlg->OnDownloadStatus(STATUS_STATION_TEXT, "SERIAL_DEVICE_Open(COM7) Failed!");
    EXPECT_EQ(dlg->Label(IDC_STATUS_LINE)->text(),
              QStringLiteral("SERIAL_DEVICE_Open(COM7) Failed!"));
    for (int ch = 0; ch < kChannels; ++ch) {
        EXPECT_NE(dlg->ChannelBar(ch)->GetWindowText(),
                  QStringLiteral("SERIAL_DEVICE_Open(COM7) Failed!"));
    }
    // Null records and unknown kinds change nothing.
    dlg->OnDownloadStatus(STATUS_PROGRESS, nullptr);
    dlg->OnDownloadStatus(STATUS_CHANNEL_TEXT, nullptr);
    dlg->OnDownloadStatus(99, &open);
    EXPECT_EQ(bar5->GetWindowText(), QStringLiteral("ERR: Open"));
}

TEST_F(MainDlgTest, AWorkersMessageIsShownOnTheWindowThreadWhileTheWorkerWaits) {
    auto dlg = Start();
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        IMAGE_ENTRY text = ChannelText(2, "Init AMSS");
        dlg->OnStatusMessage(WM_DOWNLOAD_STATUS, STATUS_CHANNEL_TEXT, &text);
        // The record lived on this stack: it must have been read before the call returned.
        std::memset(text.szPath, 'x', 16);
        returned = true;
    });
    ASSERT_TRUE(ui_test::PumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(dlg->Bar(1035)->GetWindowText(), QStringLiteral("Init AMSS"));
    // Another message number is not the status message.
    IMAGE_ENTRY other = ChannelText(2, "ignored");
    dlg->OnStatusMessage(WM_DOWNLOAD_STATUS + 1, STATUS_CHANNEL_TEXT, &other);
    // From the window's own thread it is handled directly.
    IMAGE_ENTRY own = ChannelText(2, "resource : 0% [1/4]");
    dlg->OnStatusMessage(WM_DOWNLOAD_STATUS, STATUS_CHANNEL_TEXT, &own);
    EXPECT_EQ(dlg->Bar(1035)->GetWindowText(), QStringLiteral("resource : 0% [1/4]"));
}

TEST_F(MainDlgTest, AlertsAreBoxesOnTheWindowThreadWhileOtherChannelsGoOn) {
    auto dlg = Start();
    const auto windowThread = std::this_thread::get_id();
    std::atomic<bool> alertReturned{false}, otherReturned{false};
    std::thread other;
    // While the box is "open", another worker's message still gets through.
    dialogs_.onNotice = [&] {
        other = std::thread([&] {
            IMAGE_ENTRY text = ChannelText(3, "Init QCSBL");
            dlg->OnStatusMessage(WM_DOWNLOAD_STATUS, STATUS_CHANNEL_TEXT, &text);
            otherReturned = true;
        });
        EXPECT_TRUE(ui_test::PumpUntil([&] { return otherReturned.load(); }));
        EXPECT_FALSE(alertReturned.load());
    };
    std::thread worker([&] {
        dlg->OnAlert(1, "Downloader Version Incorrect !!!!!!");
        alertReturned = true;
    });
    ASSERT_TRUE(ui_test::PumpUntil([&] { return alertReturned.load(); }));
    worker.join();
    other.join();
    ASSERT_EQ(dialogs_.notices, std::vector<std::string>{"Downloader Version Incorrect !!!!!!"});
    EXPECT_EQ(dialogs_.noticeThreads[0], windowThread);
    EXPECT_EQ(dlg->Bar(1037)->GetWindowText(), QStringLiteral("Init QCSBL"));
}

TEST_F(MainDlgTest, ThePumpSleepsWhileNothingHappens) {
    auto dlg = Start();
    const auto cpu0 = ui_test::ThreadCpuTime();
    const auto wall0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) dlg->PumpEvents(std::chrono::milliseconds(50));
    const auto wall = std::chrono::steady_clock::now() - wall0;
    const auto cpu = ui_test::ThreadCpuTime() - cpu0;
    // Timers may end up to 5 % early.
    EXPECT_GE(wall, std::chrono::milliseconds(450));
    // A spinning pump would use the whole half second; a sleeping one a few milliseconds.
    EXPECT_LT(cpu, std::chrono::milliseconds(25))
        << "window thread used " << cpu.count() << " us of CPU in 500 ms";
    RecordProperty("window_thread_cpu_us_per_500ms", static_cast<int>(cpu.count()));
}

// --- Download refusals ----------------------------------------------------------------------

TEST_F(MainDlgTest, DownloadWithNothingCheckedSaysSelectImage) {
    WriteAll(Settings(), "[PELOR]\nAUTODETECT=0\nCH0_PORT=1\n");
    WriteAll(Job(), "[PELOR]\nCODECHECK=0\n");
    auto dlg = Start();
    dlg->Button(IDC_DOWNLOAD)->click();
    EXPECT_EQ(dialogs_.notices, std::vector<std::string>{"Select Image !"});
    EXPECT_EQ(dlg->Running(), 0);
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    EXPECT_EQ(g_hNotifyWnd.load(), nullptr);
}

TEST_F(MainDlgTest, DownloadWithAnEmptyCodeAddressIsRefused) {
    WriteAll(Settings(), "[PELOR]\nAUTODETECT=0\nCH0_PORT=1\n");
    auto dlg = Start();
    dlg->Edit(IDC_CODE_ADDRESS)->clear();
    dlg->Button(IDC_DOWNLOAD)->click();
    EXPECT_EQ(dialogs_.notices, std::vector<std::string>{"Invalid Code Image/Address !"});
    EXPECT_EQ(dlg->Running(), 0);
}

TEST_F(MainDlgTest, MissingImageSaysNoFileStartsNothingAndKeepsTheWindow) {
    WriteAll(Settings(), "[PELOR]\nAUTODETECT=0\nCH0_PORT=1\n");
    WriteAll(Job(), "[PELOR]\nCODEFILE=" + (folder_ / "nowhere") + "\n");
    std::atomic<int> started{0};
    PELOR_SetWorkerStarter([&](std::thread&, int) {
        ++started;
        return false;
    });
    auto dlg = Start();
    dlg->Button(IDC_RESOURCE_CHECK)->click();  // an unsaved choice
    dlg->Button(IDC_DOWNLOAD)->click();
    EXPECT_EQ(dialogs_.notices, std::vector<std::string>{"ERR: No File"});
    EXPECT_EQ(started.load(), 0);
    EXPECT_TRUE(exitCodes_.empty());
    EXPECT_EQ(dlg->Running(), 0);
    EXPECT_TRUE(dlg->IsChecked(IDC_RESOURCE_CHECK));
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    // Nothing was saved.
    EXPECT_EQ(ReadAll(Settings()), "[PELOR]\nAUTODETECT=0\nCH0_PORT=1\n");
    EXPECT_EQ(ReadAll(Job()), "[PELOR]\nCODEFILE=" + (folder_ / "nowhere") + "\n");
}

// --- Closing --------------------------------------------------------------------------------

TEST_F(MainDlgTest, ClosingWhileIdleSavesTheSettingsAndTheJob) {
    auto dlg = Start();
    dlg->show();
    dlg->SetChannelPort(2, 7);
    dlg->Button(IDC_RESOURCE_CHECK)->click();
    dlg->close();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_TRUE(exitCodes_.empty());
    const std::string settings = ReadAll(Settings());
    EXPECT_NE(settings.find("CH2_PORT=7"), std::string::npos) << settings;
    EXPECT_NE(settings.find("PELORFILE=" + Job()), std::string::npos) << settings;
    const std::string job = ReadAll(Job());
    EXPECT_NE(job.find("ETC2CHECK=1"), std::string::npos) << job;
    EXPECT_NE(job.find("CODEFILE=/WZRTAll"), std::string::npos) << job;
}

TEST_F(MainDlgTest, ClosingWhenTheFilesCannotBeWrittenSaysSo) {
    auto dlg = Start();
    std::filesystem::create_directories(Job());  // a folder where the job file would go
    dlg->show();
    dlg->close();
    ASSERT_EQ(dialogs_.notices.size(), 1u);
    EXPECT_NE(dialogs_.notices[0].find("could not be saved"), std::string::npos);
    EXPECT_TRUE(exitCodes_.empty());
}

TEST_F(MainDlgTest, EscapeClosesTheIdleWindowToo) {
    auto dlg = Start();
    dlg->show();
    QTest::keyClick(dlg.get(), Qt::Key_Escape);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_TRUE(Exists(Settings()));
}

TEST_F(MainDlgTest, ClosingDuringARunStopsTheChannelsExitsWithOneAndSavesNothing) {
    ui_test::MakeCodeFolder(folder_.path(), 1000);
    auto dlg = Start();
    // The job names the code folder; the settings file itself must not be written.
    SETTINGS_CopyText(g_szCodeFile, folder_ / "WZRTAll");
    SETTINGS_SplitCodePath();
    dlg->SetChannelPort(0, 1);
    dlg->SetChannelPort(1, 2);
    // Workers that keep reporting until their channel is stopped.
    std::atomic<int> running{0};
    PELOR_SetWorkerStarter([&](std::thread& thread, int channel) {
        thread = std::thread([channel, &running] {
            ++running;
            while (g_bChannelActive[channel].load() == 1) {
                STATUS_ChannelPrintf(channel, "Init AMSS");
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            g_nComPort[channel] = 0;
        });
        return true;
    });
    dlg->show();
    bool escapeIgnored = false;
    QTimer::singleShot(100, dlg.get(), [&] {
        // During a run Escape does nothing; the close box ends the process.
        QTest::keyClick(dlg.get(), Qt::Key_Escape);
        escapeIgnored = exitCodes_.empty() && dlg->Running() == 1;
        dlg->close();
    });
    dlg->Button(IDC_DOWNLOAD)->click();  // returns once the stopped workers have ended
    EXPECT_TRUE(escapeIgnored);
    EXPECT_EQ(running.load(), 2);
    EXPECT_EQ(exitCodes_, std::vector<int>{1});
    EXPECT_EQ(dlg->Running(), 0);
    EXPECT_EQ(g_hNotifyWnd.load(), nullptr);
    EXPECT_FALSE(Exists(Settings()));
    EXPECT_FALSE(Exists(Job()));
    EXPECT_EQ(dlg->ChannelBar(0)->GetWindowText(), QStringLiteral("Init AMSS"));
}
