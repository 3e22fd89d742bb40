// The channels' ports: the selectors, Auto, devices arriving and being removed (also during a
// run, with workers standing in and with simulated handsets on pseudo-terminals), and the
// device watcher that notices them without udev.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "caption_progress_ctrl.h"
#include "config/settings.h"
#include "device_watcher.h"
#include "dialog_template.h"
#include "jobs/file_download.h"
#include "jobs/runner.h"
#include "jobs/status.h"
#include "qt_main_dlg.h"
#include "sim/sim_handset.h"
#include "station_simulation.h"
#include "transport/port_table.h"
#include "transport/serial_port.h"
#include "ui_test_support.h"

using ui_test::PumpUntil;
using ui_test::ScriptedDialogs;
using ui_test::StationFolder;
using ui_test::WriteAll;

namespace fs = std::filesystem;

namespace {

class PortsTest : public ::testing::Test {
protected:
    std::unique_ptr<QtMainDlg> Start(const std::string& settings = std::string()) {
        if (!settings.empty()) WriteAll(folder_ / "pelorw.ini", settings);
        auto dlg = std::make_unique<QtMainDlg>(&dialogs_);
        dlg->SetExitHandler([](int) { ADD_FAILURE() << "the process would have ended"; });
        return dlg;
    }

    // The operator opens the selector's list and takes an entry.
    static void Choose(QComboBox* selector, int index) {
        selector->showPopup();
        QAbstractItemView* view = selector->view();
        view->setCurrentIndex(view->model()->index(index, 0));
        QTest::keyClick(view, Qt::Key_Return);
    }

    static QString Text(QtMainDlg& dlg, int channel) {
        return dlg.ChannelBar(channel)->GetWindowText();
    }

    // A device folder: dev/ttyUSB0 with a by-path link to it.
    std::string MakeDevFolder() {
        const std::string dev = folder_ / "dev";
        fs::create_directories(dev + "/serial/by-path");
        WriteAll(dev + "/ttyUSB0", "");
        fs::create_symlink("../../ttyUSB0", dev + "/serial/by-path/" + kByPath);
        return dev;
    }

    // Presses Download with stand-in workers: each reports "Init AMSS" and then waits until
    // its channel is stopped or the run is over. during() runs on the window's thread once
    // every started worker has reported.
    std::vector<int> RunWithStandIns(QtMainDlg& dlg, const std::function<void()>& during) {
        ui_test::MakeCodeFolder(folder_.path(), 1000);
        SETTINGS_CopyText(g_szCodeFile, folder_ / "WZRTAll");
        SETTINGS_SplitCodePath();
        std::mutex mu;
        std::vector<int> started;
        std::atomic<bool> finish{false};
        std::atomic<int> reported{0};
        PELOR_SetWorkerStarter([&](std::thread& thread, int channel, const std::function<void()>&) {
            {
                std::lock_guard lock(mu);
                started.push_back(channel);
            }
            thread = std::thread([channel, &finish, &reported] {
                STATUS_ChannelPrintf(channel, "Init AMSS");
                ++reported;
                while (g_bChannelActive[channel].load() == 1 && !finish.load()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                g_nComPort[channel] = 0;
            });
            return true;
        });
        QTimer::singleShot(0, &dlg, [&] {
            EXPECT_TRUE(PumpUntil([&] {
                std::lock_guard lock(mu);
                return reported.load() == static_cast<int>(started.size());
            }));
            during();
            finish = true;
        });
        dlg.Button(IDC_DOWNLOAD)->click();  // returns when the run is over
        return started;
    }

    static constexpr const char* kByPath = "pci-0000:00:14.0-usb-0:2:1.0-port0";
    StationFolder folder_;
    ScriptedDialogs dialogs_;
};

}  // namespace

// --- The selectors --------------------------------------------------------------------------

TEST_F(PortsTest, SelectorEntriesNameTheirDevicesAndTheOpenedListShowsThemWhole) {
    const std::string dev = MakeDevFolder();
    const std::string link = dev + "/serial/by-path/" + kByPath;
    auto dlg =
        Start("[PELOR]\nAUTODETECT=0\nCH2_PORT=3\n[PORTS]\nCOM3=" + link + "\nCOM4=/dev/pts/7\n");
    QComboBox* selector = dlg->PortSelector(2);
    ASSERT_EQ(selector->count(), 31);
    EXPECT_EQ(selector->itemText(0), QStringLiteral("-----------"));
    EXPECT_EQ(selector->itemText(3), QStringLiteral("COM3 ttyUSB0"));
    EXPECT_EQ(selector->itemText(4), QStringLiteral("COM4 pts7"));
    EXPECT_EQ(selector->itemText(5), QStringLiteral("COM5"));
    EXPECT_EQ(selector->itemData(3, Qt::ToolTipRole).toString().toStdString(), link);
    EXPECT_EQ(selector->currentIndex(), 3);
    EXPECT_EQ(selector->toolTip().toStdString(), link);
    EXPECT_TRUE(dlg->PortSelector(0)->toolTip().isEmpty());
    for (int n = 1; n <= 30; ++n) {
        EXPECT_TRUE(selector->itemText(n).startsWith(QStringLiteral("COM%1").arg(n))) << n;
    }

    // Under a style whose list is as wide as the closed selector (Windows'), the list is
    // widened all the same.
    std::unique_ptr<QStyle> windowsStyle(QStyleFactory::create(QStringLiteral("Windows")));
    ASSERT_NE(windowsStyle, nullptr);
    selector->setStyle(windowsStyle.get());
    dlg->show();
    selector->showPopup();
    QAbstractItemView* view = selector->view();
    ASSERT_TRUE(view->isVisible());
    const int needed = view->fontMetrics().horizontalAdvance(QStringLiteral("COM3 ttyUSB0"));
    EXPECT_GE(view->viewport()->width(), needed + 8);
    EXPECT_GE(view->width(), selector->width());
    selector->hidePopup();
    selector->setStyle(nullptr);
}

TEST_F(PortsTest, TakingTheLastPortAwayDisablesDownload) {
    auto dlg = Start("[PELOR]\nAUTODETECT=0\nCH0_PORT=1\n");
    dlg->show();
    ASSERT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    Choose(dlg->PortSelector(0), 0);
    EXPECT_EQ(dlg->Port(0), 0);
    EXPECT_FALSE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    Choose(dlg->PortSelector(3), 9);
    EXPECT_EQ(dlg->Port(3), 9);
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
}

// --- Auto and arrivals ----------------------------------------------------------------------

TEST_F(PortsTest, TurningAutoOffGivesTheChannelsTheirSavedPortsForAnImmediateDownload) {
    auto dlg = Start("[PELOR]\nAUTODETECT=1\nCH0_PORT=3\nCH5_PORT=4\n");
    dlg->OnDeviceArrival(9);
    ASSERT_FALSE(dlg->PortSelector(0)->isEnabled());
    dlg->Button(IDC_AUTO)->click();
    EXPECT_EQ(g_bAutoDetect.load(), 0);
    EXPECT_EQ(dlg->Ports(), (std::array<int, kChannels>{3, 0, 0, 0, 0, 4, 0, 0}));
    EXPECT_EQ(dlg->PortSelector(0)->currentIndex(), 3);
    EXPECT_EQ(dlg->PortSelector(5)->currentIndex(), 4);
    for (int ch = 0; ch < kChannels; ++ch) EXPECT_TRUE(dlg->PortSelector(ch)->isEnabled());
    ASSERT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());

    // An arrival with Auto off is only reported.
    dlg->OnDeviceArrival(8);
    EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE), "Detect COM8 Port");
    EXPECT_EQ(dlg->Port(1), 0);

    const std::vector<int> started = RunWithStandIns(*dlg, [] {});
    EXPECT_EQ(started, (std::vector<int>{0, 5}));
}

TEST_F(PortsTest, APortNumberGivenToANewDeviceIsSavedWithTheChannelsPorts) {
    {
        auto dlg = Start("[PELOR]\nAUTODETECT=1\n[PORTS]\nCOM1=/dev/ttyUSB0\n");
        dlg->OnDeviceArrived("/dev/ttyACM3");
        ASSERT_EQ(dlg->Port(0), 2);
        EXPECT_EQ(dlg->PortSelector(0)->currentText(), QStringLiteral("COM2 ttyACM3"));
        dlg->show();
        dlg->close();
    }
    const std::string settings = ui_test::ReadAll(folder_ / "pelorw.ini");
    EXPECT_NE(settings.find("CH0_PORT=2"), std::string::npos) << settings;
    EXPECT_NE(settings.find("COM2=/dev/ttyACM3"), std::string::npos) << settings;
    // The next start knows the device by its number before it is plugged in again.
    PORTTABLE_Clear();
    auto dlg = Start();
    EXPECT_EQ(PORTTABLE_Find("/dev/ttyACM3"), 2);
    EXPECT_EQ(dlg->PortSelector(3)->itemText(2), QStringLiteral("COM2 ttyACM3"));
}

// --- Removal --------------------------------------------------------------------------------

TEST_F(PortsTest, DuringARunArrivalsAreNotAssignedAndARemovalStopsOnlyItsChannel) {
    auto dlg = Start();
    dlg->OnDeviceArrival(1);
    dlg->OnDeviceArrival(2);
    const std::vector<int> started = RunWithStandIns(*dlg, [&] {
        ASSERT_EQ(dlg->Running(), 1);
        dlg->OnDeviceArrival(5);
        EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE), "Detect COM5 Port");
        for (int ch = 0; ch < kChannels; ++ch) EXPECT_NE(dlg->Port(ch), 5);
        // Auto cannot be switched during a run: the box stays as the setting is.
        dlg->Button(IDC_AUTO)->click();
        EXPECT_TRUE(dlg->IsChecked(IDC_AUTO));
        EXPECT_EQ(g_bAutoDetect.load(), 1);
        // A selector choice during a run does not enable Download.
        dlg->show();
        Choose(dlg->PortSelector(6), 9);
        EXPECT_FALSE(dlg->Control(IDC_DOWNLOAD)->isEnabled());

        dlg->OnDeviceRemoval(2);
        EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE), "Disconnect COM2 Port");
        EXPECT_EQ(g_bChannelActive[1].load(), 0);
        EXPECT_EQ(g_bChannelActive[0].load(), 1);
        EXPECT_EQ(dlg->Port(1), 0);
        EXPECT_EQ(dlg->PortSelector(1)->currentIndex(), 0);
        EXPECT_TRUE(dlg->PortSelector(1)->isEnabled());
        EXPECT_EQ(Text(*dlg, 1), QStringLiteral("Init AMSS"));  // its last text stays
        EXPECT_FALSE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
        // Channel 1's worker ends; channel 0's goes on.
        EXPECT_TRUE(PumpUntil([] { return g_nComPort[1].load() == 0; }));
        EXPECT_NE(g_nComPort[0].load(), 0);
    });
    EXPECT_EQ(started, (std::vector<int>{0, 1}));
    EXPECT_EQ(dlg->Running(), 0);
    EXPECT_EQ(dlg->Port(0), 1);
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
}

TEST_F(PortsTest, PulledSimulatedHandsetStopsOnlyItsChannelWhileTheOthersFinish) {
    WriteAll(folder_ / "pelorw.ini", "[PELOR]\nDELAY=0\n");
    auto dlg = Start();
    SimulationOptions options;
    options.handsets = 3;
    options.baud = 0;
    options.amssBytes = 600 * 1024;
    StationSimulation simulation(*dlg, options);
    std::string error;
    ASSERT_EQ(simulation.Start(&error), 1) << error;
    ASSERT_EQ(dlg->Ports(), (std::array<int, kChannels>{1, 2, 3, 0, 0, 0, 0, 0}));

    // The cable of channel 1 is pulled while its AMSS image streams.
    bool pulled = false;
    std::string lastBeforePull;
    QObject::connect(dlg.get(), &QtMainDlg::ChannelBarChanged, [&](int channel) {
        if (pulled || channel != 1) return;
        if (!Text(*dlg, 1).startsWith(QStringLiteral("AMSS: "))) return;
        pulled = true;
        simulation.Unplug(1);
        lastBeforePull = dlg->ControlText(IDC_STATUS_LINE);
    });
    dlg->Button(IDC_DOWNLOAD)->click();

    ASSERT_TRUE(pulled);
    EXPECT_EQ(lastBeforePull, "Disconnect COM2 Port");
    EXPECT_TRUE(simulation.Handset(1)->Unplugged());
    EXPECT_EQ(g_nChannelResult[0].load(), 1);
    EXPECT_EQ(g_nChannelResult[1].load(), 0);
    EXPECT_EQ(g_nChannelResult[2].load(), 1);
    EXPECT_EQ(dlg->Port(1), 0);
    EXPECT_TRUE(dlg->PortSelector(1)->isEnabled());
    EXPECT_FALSE(Text(*dlg, 1).startsWith(QStringLiteral("Download Complete!")));
    EXPECT_TRUE(Text(*dlg, 0).startsWith(QStringLiteral("Download Complete!")));
    EXPECT_TRUE(Text(*dlg, 2).startsWith(QStringLiteral("Download Complete!")));
    EXPECT_TRUE(dialogs_.notices.empty());
    for (int ch : {0, 2}) {
        EXPECT_TRUE(PumpUntil([&] { return simulation.Handset(ch)->Started(); })) << ch;
    }
}

TEST_F(PortsTest, UnattendedSessionWithAPulledHandsetCountsTheOthers) {
    WriteAll(folder_ / "pelorw.ini", "[PELOR]\nDELAY=0\n");
    auto dlg = Start();
    SimulationOptions options;
    options.handsets = 2;
    options.baud = 0;
    options.amssBytes = 300 * 1024;
    options.screenshot = folder_ / "pulled.png";
    options.unplugChannel = 0;
    options.unplugAfter = std::chrono::milliseconds(0);
    StationSimulation simulation(*dlg, options);
    std::string error;
    ASSERT_EQ(simulation.Start(&error), 1) << error;
    simulation.RunUnattended();
    EXPECT_TRUE(simulation.Handset(0)->Unplugged());
    EXPECT_EQ(g_nChannelResult[0].load(), 0);
    EXPECT_EQ(g_nChannelResult[1].load(), 1);
    EXPECT_EQ(dlg->Port(0), 0);
    EXPECT_EQ(simulation.ExitCode(), 0) << simulation.Message();
    EXPECT_TRUE(ui_test::Exists(folder_ / "pulled.png"));
}

// --- Watching for devices -------------------------------------------------------------------

TEST_F(PortsTest, WithoutUdevThePollingWatcherReportsDevicesPluggedAndPulled) {
    const std::string dev = MakeDevFolder();
    DeviceWatcherOptions options;
    options.devRoot = dev;
    options.interval = std::chrono::milliseconds(5);
    options.udevControl = folder_ / "no-udev/control";
    DeviceWatcher watcher(options);
    std::vector<std::string> arrived, removed;
    QObject::connect(&watcher, &DeviceWatcher::DeviceArrived,
                     [&](const QString& d) { arrived.push_back(d.toStdString()); });
    QObject::connect(&watcher, &DeviceWatcher::DeviceRemoved,
                     [&](const QString& d) { removed.push_back(d.toStdString()); });
    auto dlg = Start();
    dlg->ConnectDeviceWatcher(watcher);
    ASSERT_EQ(watcher.Start(), DeviceWatcher::Mode::Polling);
    // What is there at the start is known, not reported, under its by-path name.
    const std::string link = dev + "/serial/by-path/" + kByPath;
    ASSERT_EQ(watcher.Known().size(), 1u);
    EXPECT_EQ(watcher.Known().begin()->first, link);

    WriteAll(dev + "/ttyACM0", "");
    ASSERT_TRUE(PumpUntil([&] { return !arrived.empty(); }));
    EXPECT_EQ(arrived, std::vector<std::string>{dev + "/ttyACM0"});
    // The window gave it a port number, a channel and an entry that names it.
    const int port = PORTTABLE_Find(dev + "/ttyACM0");
    ASSERT_GT(port, 0);
    EXPECT_EQ(dlg->Port(0), port);
    EXPECT_EQ(dlg->PortSelector(0)->currentText(), QStringLiteral("COM%1 ttyACM0").arg(port));
    EXPECT_EQ(dlg->PortSelector(0)->toolTip().toStdString(), dev + "/ttyACM0");

    fs::remove(dev + "/ttyACM0");
    fs::remove(link);
    fs::remove(dev + "/ttyUSB0");
    ASSERT_TRUE(PumpUntil([&] { return removed.size() == 2; }));
    std::sort(removed.begin(), removed.end());
    EXPECT_EQ(removed,
              (std::vector<std::string>{dev + "/serial/by-path/" + kByPath, dev + "/ttyACM0"}));
    EXPECT_EQ(dlg->Port(0), 0);
    EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE), "Disconnect COM" + std::to_string(port) + " Port");
    // The same device plugged in again keeps its number.
    WriteAll(dev + "/ttyACM0", "");
    ASSERT_TRUE(PumpUntil([&] { return arrived.size() == 2; }));
    EXPECT_EQ(dlg->Port(0), port);
    watcher.Stop();
    EXPECT_EQ(watcher.CurrentMode(), DeviceWatcher::Mode::None);
}

TEST_F(PortsTest, TheUdevMonitorIsTakenOnlyWhereUdevRuns) {
    DeviceWatcherOptions options;
    options.udevControl = folder_ / "udev-control";
    DeviceWatcher watcher(options);
    // No control socket: udev does not run, and its monitor would stay silent.
    EXPECT_EQ(watcher.Start(), DeviceWatcher::Mode::Polling);
    // With one, the monitor where this system lets it be had (the polling watcher otherwise);
    // starting again releases the first.
    WriteAll(folder_ / "udev-control", "");
    const DeviceWatcher::Mode mode = watcher.Start();
#if defined(PELOR_HAVE_UDEV)
    EXPECT_NE(mode, DeviceWatcher::Mode::None);
#else
    EXPECT_EQ(mode, DeviceWatcher::Mode::Polling);
#endif
    EXPECT_EQ(watcher.Start(), mode);
    RecordProperty("udev_monitor", mode == DeviceWatcher::Mode::Udev ? "yes" : "no");
    watcher.Stop();
    EXPECT_EQ(watcher.CurrentMode(), DeviceWatcher::Mode::None);
    // Another device folder than /dev is never udev's.
    options.devRoot = folder_.path();
    DeviceWatcher elsewhere(options);
    EXPECT_EQ(elsewhere.Start(), DeviceWatcher::Mode::Polling);
}

TEST_F(PortsTest, UdevEventsAreReportedUnderTheNamesAScanGives) {
    const std::string dev = MakeDevFolder();
    WriteAll(dev + "/tty1", "");  // a console: not a serial device of the station's
    DeviceWatcherOptions options;
    options.devRoot = dev;
    options.allowUdev = false;
    options.interval = std::chrono::hours(1);
    DeviceWatcher watcher(options);
    std::vector<std::string> arrived, removed;
    QObject::connect(&watcher, &DeviceWatcher::DeviceArrived,
                     [&](const QString& d) { arrived.push_back(d.toStdString()); });
    QObject::connect(&watcher, &DeviceWatcher::DeviceRemoved,
                     [&](const QString& d) { removed.push_back(d.toStdString()); });
    // Plugged in after the watching started.
    fs::remove(dev + "/serial/by-path/" + std::string(kByPath));
    fs::remove(dev + "/ttyUSB0");
    watcher.Start();
    ASSERT_TRUE(watcher.Known().empty());
    WriteAll(dev + "/ttyUSB0", "");
    fs::create_symlink("../../ttyUSB0", dev + "/serial/by-path/" + kByPath);

    const std::string node = fs::canonical(dev + "/ttyUSB0").string();
    watcher.NodeAdded(node);
    watcher.NodeAdded(node);  // once only
    watcher.NodeAdded(dev + "/tty1");
    EXPECT_EQ(arrived, std::vector<std::string>{dev + "/serial/by-path/" + kByPath});
    // Removed: the node and its link are gone; the name is the one it was known by.
    fs::remove(dev + "/serial/by-path/" + std::string(kByPath));
    fs::remove(dev + "/ttyUSB0");
    watcher.NodeRemoved(node);
    watcher.NodeRemoved(node);
    EXPECT_EQ(removed, std::vector<std::string>{dev + "/serial/by-path/" + kByPath});
    EXPECT_TRUE(watcher.Known().empty());
}
