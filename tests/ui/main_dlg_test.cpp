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
#include "jobs/station.h"
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

// --- The handlers start-up needs ------------------------------------------------------------

// --- The status display ---------------------------------------------------------------------

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
    WriteAll(Job(), "[PELOR]\n");
    auto dlg = Start();
    std::filesystem::remove(Job());
    std::filesystem::create_directories(Job());  // a folder where the loaded job file was
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
    PELOR_SetWorkerStarter([&](std::thread& thread, int channel, const std::function<void()>&) {
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
    EXPECT_EQ(STATION_Current().notifyTarget.load(), nullptr);
    EXPECT_FALSE(Exists(Settings()));
    EXPECT_FALSE(Exists(Job()));
    EXPECT_EQ(dlg->ChannelBar(0)->GetWindowText(), QStringLiteral("Init AMSS"));
}
