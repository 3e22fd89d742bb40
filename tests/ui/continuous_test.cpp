// Production mode in the window: Download arms the station and reads "Stop"; handsets that
// arrive while armed are flashed on their own channels, a removal stops only its own job, and
// closing the window while armed stops the jobs as closing during a run does. The handsets sit
// on loopback lines, so a plug and an unplug are the port's name appearing and disappearing.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QTimer>
#include <functional>
#include <memory>

#include "caption_progress_ctrl.h"
#include "dialog_template.h"
#include "jobs/file_download.h"
#include "qt_main_dlg.h"
#include "sim/sim_handset.h"
#include "transport/loopback_port.h"
#include "transport/port_table.h"
#include "transport/serial_port.h"
#include "ui_test_support.h"

using ui_test::ScriptedDialogs;
using ui_test::StationFolder;
using ui_test::WriteAll;

namespace {

using namespace std::chrono_literals;

class Socket {
public:
    explicit Socket(std::string name) : name_(std::move(name)) {
        port_ = PORTTABLE_Assign("loop:" + name_);
    }
    ~Socket() { Unplug(); }
    int port() const { return port_; }
    SimHandset* Plug(SimOptions options = {}) {
        Unplug();
        handset_ = SimHandset::StartOnFd(LOOPBACK_Create(name_), std::move(options));
        return handset_.get();
    }
    void Unplug() {
        if (!handset_) return;
        LOOPBACK_Remove(name_);
        handset_->Unplug();
        handset_.reset();
    }
    SimHandset* handset() const { return handset_.get(); }

private:
    std::string name_;
    int port_ = 0;
    std::unique_ptr<SimHandset> handset_;
};

std::string BarText(const QtMainDlg& dlg, int channel) {
    return dlg.ChannelBar(channel)->GetWindowText().toStdString();
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

// Calls step every few milliseconds from the window's event loop (also inside the armed
// station's pump) until it returns false.
void Script(QObject* owner, std::function<bool()> step) {
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, [timer, step = std::move(step)] {
        if (!step()) timer->stop();
    });
    timer->start(5);
}

class ContinuousWindow : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string code = ui_test::MakeCodeFolder(folder_.path(), 0x70000 + 6 * 16384);
        WriteAll(folder_ / "pelorw.ini", "[PELOR]\nAUTODETECT=0\nDELAY=0\n");
        WriteAll(folder_ / "default.plr", "[PELOR]\nCODECHECK=1\nCODEFILE=" + code + "\n");
        dlg_ = std::make_unique<QtMainDlg>(&dialogs_);
        // After the window has loaded its port table, which the sockets' ports join.
        static int line = 0;
        ++line;
        for (int i = 0; i < 2; ++i) {
            sockets_.push_back(
                std::make_unique<Socket>("win" + std::to_string(line) + "s" + std::to_string(i)));
        }
        dlg_->SetSaveOnClose(false);
        dlg_->SetExitHandler([this](int code) { exits_.push_back(code); });
        dlg_->SetContinuous(true);
        for (int i = 0; i < 2; ++i) dlg_->SetChannelPort(i, sockets_[i]->port());
        dlg_->show();
    }
    void TearDown() override {
        dlg_.reset();
        sockets_.clear();
    }

    StationFolder folder_;
    ScriptedDialogs dialogs_;
    std::vector<std::unique_ptr<Socket>> sockets_;
    std::unique_ptr<QtMainDlg> dlg_;
    std::vector<int> exits_;
};

}  // namespace

TEST_F(ContinuousWindow, ArmedStationFlashesArrivalsUntilStoppedAndARemovalFailsOnlyItsJob) {
    QtMainDlg& dlg = *dlg_;
    Socket& s0 = *sockets_[0];
    Socket& s1 = *sockets_[1];
    s0.Plug();  // present when armed: flashed at once
    int phase = 0;
    std::chrono::steady_clock::time_point unpluggedAt;
    std::string captionArmed;
    bool downloadEnabledArmed = false;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    Script(&dlg, [&] {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "stuck in phase " << phase << ": " << BarText(dlg, 0) << " | "
                          << BarText(dlg, 1);
            dlg.Button(IDC_DOWNLOAD)->click();
            return false;
        }
        switch (phase) {
            case 0:
                captionArmed = dlg.Button(IDC_DOWNLOAD)->text().toStdString();
                downloadEnabledArmed = dlg.Control(IDC_DOWNLOAD)->isEnabled();
                phase = 1;
                return true;
            case 1:  // the first handset done; one arrives on the other channel
                if (!StartsWith(BarText(dlg, 0), "OK: ")) return true;
                s1.Plug();
                phase = 2;
                return true;
            case 2: {  // while that one runs, the first is swapped for a slow handset
                if (!StartsWith(BarText(dlg, 1), "OK: ")) return true;
                s0.Unplug();
                unpluggedAt = std::chrono::steady_clock::now();
                phase = 3;
                return true;
            }
            case 3: {
                // A swap takes the operator longer than the station's look at its sockets.
                if (std::chrono::steady_clock::now() - unpluggedAt < 400ms) return true;
                SimOptions slow;
                slow.programLatencyPerBlock = 50ms;
                s0.Plug(slow);
                phase = 4;
                return true;
            }
            case 4:  // pulled in the middle of its job
                if (s0.handset()->RequestCount() < 8) return true;
                s0.Unplug();
                dlg.OnDeviceRemoval(s0.port());
                phase = 5;
                return true;
            case 5:
                if (!StartsWith(BarText(dlg, 0), "FAILED: ")) return true;
                dlg.Button(IDC_DOWNLOAD)->click();  // Stop
                phase = 6;
                return false;
        }
        return false;
    });
    dlg.Button(IDC_DOWNLOAD)->click();  // returns when the station has disarmed

    EXPECT_EQ(phase, 6);
    EXPECT_EQ(captionArmed, "Stop");
    EXPECT_TRUE(downloadEnabledArmed);
    EXPECT_FALSE(dlg.Armed());
    EXPECT_EQ(dlg.Running(), 0);
    EXPECT_EQ(dlg.Button(IDC_DOWNLOAD)->text().toStdString(), "Download");
    EXPECT_TRUE(dlg.Control(IDC_DOWNLOAD)->isEnabled());
    EXPECT_TRUE(StartsWith(BarText(dlg, 0), "FAILED: ")) << BarText(dlg, 0);
    EXPECT_NE(BarText(dlg, 0).find("[done 1, failed 1]"), std::string::npos) << BarText(dlg, 0);
    EXPECT_NE(BarText(dlg, 1).find("[done 1, failed 0]"), std::string::npos) << BarText(dlg, 1);
    EXPECT_EQ(dlg.Port(0), s0.port()) << "a socket keeps its port across a removal";
    const std::string status = dlg.ControlText(IDC_STATUS_LINE);
    EXPECT_TRUE(StartsWith(status, "Armed: done 2, failed 1, running 0, ")) << status;
    EXPECT_NE(status.find("handsets/h"), std::string::npos) << status;
    EXPECT_TRUE(exits_.empty());
    EXPECT_TRUE(dialogs_.notices.empty());
}

TEST_F(ContinuousWindow, ClosingWhileArmedStopsTheJobsAsClosingDuringARunDoes) {
    QtMainDlg& dlg = *dlg_;
    SimOptions slow;
    slow.programLatencyPerBlock = 200ms;  // far longer than the test
    sockets_[0]->Plug(slow);
    bool closed = false;
    std::chrono::steady_clock::time_point closedAt;
    Script(&dlg, [&] {
        if (sockets_[0]->handset()->RequestCount() < 6) return true;
        static_cast<QDialog&>(dlg).reject();  // the window closed
        closed = true;
        closedAt = std::chrono::steady_clock::now();
        return false;
    });
    dlg.Button(IDC_DOWNLOAD)->click();
    ASSERT_TRUE(closed);
    EXPECT_LT(std::chrono::steady_clock::now() - closedAt, 2s) << "the job was not stopped";
    ASSERT_EQ(exits_.size(), 1u);
    EXPECT_EQ(exits_[0], 1);
    EXPECT_FALSE(dlg.Armed());
    EXPECT_EQ(g_nChannelResult[0].load(), 0);
    EXPECT_FALSE(g_hSerialDevice.IsOpen(0));
}

TEST_F(ContinuousWindow, WithAutoADeviceArrivingWhileArmedGetsAChannelAndIsFlashed) {
    QtMainDlg& dlg = *dlg_;
    Socket& s0 = *sockets_[0];
    Socket& s1 = *sockets_[1];
    dlg.Button(IDC_AUTO)->click();  // every channel waits for a device
    ASSERT_TRUE(dlg.IsChecked(IDC_AUTO));
    ASSERT_EQ(dlg.Port(0), 0);
    s0.Plug();
    dlg.OnDeviceArrival(s0.port());
    ASSERT_EQ(dlg.Port(0), s0.port());
    int phase = 0;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    Script(&dlg, [&] {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "stuck in phase " << phase << ": " << BarText(dlg, 1);
            dlg.Button(IDC_DOWNLOAD)->click();
            return false;
        }
        if (phase == 0) {
            if (!StartsWith(BarText(dlg, 0), "OK: ")) return true;
            s1.Plug();
            dlg.OnDeviceArrival(s1.port());  // as the device watcher reports it
            phase = 1;
            return true;
        }
        if (!StartsWith(BarText(dlg, 1), "OK: ")) return true;
        dlg.Button(IDC_DOWNLOAD)->click();
        phase = 2;
        return false;
    });
    dlg.Button(IDC_DOWNLOAD)->click();
    EXPECT_EQ(phase, 2);
    EXPECT_EQ(dlg.Port(1), s1.port());
    EXPECT_FALSE(dlg.PortSelector(1)->isEnabled()) << "an assigned channel's selector is locked";
    EXPECT_TRUE(s1.handset()->Started());
    EXPECT_EQ(s0.handset()->GoCount(), 1);
}
