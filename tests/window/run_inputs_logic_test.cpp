// What a run starts with stays put while it runs (the controls that would change its ports or
// hold up its workers are refused, and work again afterwards), and handsets plugged in before
// the window started get their channels as arrivals do.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "dialog_template.h"
#include "jobs/runner.h"
#include "transport/port_table.h"
#include "transport/station_ports.h"
#include "window_fixture.h"

using namespace window_test;

namespace {

class WindowRunInputsTest : public WindowTest {
protected:
    // Channels 0 and 1 on COM2 and COM3, and a code folder to download.
    std::unique_ptr<MemoryDlg> StartWithPorts() {
        const std::string code = folder_ / "WZRTAll";
        std::filesystem::create_directories(code);
        WriteAll(code + "/partition.mbn", std::string(300, 'p'));
        WriteAll(code + "/WZRTAllhd.mbn", std::string(1200, 'h'));
        WriteAll(code + "/WZRTAll.mbn", std::string(0x70000 + 100, 'a'));
        WriteAll(Job(), "[PELOR]\nCODEFILE=" + code + "\n");
        auto dlg = Start("[PELOR]\nAUTODETECT=0\nCH0_PORT=2\nCH1_PORT=3\n");
        dlg->KeepNoResults();
        return dlg;
    }

    // Presses Download with stand-in workers that wait until their channel is stopped or the
    // run is told to end; during() runs once on the window's thread while they wait.
    void RunWithStandIns(MemoryDlg& dlg, const std::function<void()>& during) {
        std::atomic<bool> finish{false};
        PELOR_SetWorkerStarter(
            [&finish](std::thread& thread, int channel, const std::function<void()>&) {
                thread = std::thread([channel, &finish] {
                    while (g_bChannelActive[channel].load() == 1 && !finish.load()) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    }
                    g_nComPort[channel] = 0;
                });
                return true;
            });
        bool done = false;
        dlg.SetDuringPump([&] {
            if (done) return;
            done = true;
            during();
            finish = true;
        });
        Click(dlg, IDC_DOWNLOAD);  // returns when the run is over
        dlg.SetDuringPump(nullptr);
        PELOR_SetWorkerStarter({});
        ASSERT_TRUE(done);
        ASSERT_EQ(dlg.Running(), 0);
    }
};

}  // namespace

// Load would drop the ports the channels run on, a selector would show a port the channel does
// not use (and the next Download would use it), Create Resource Binary would hold up every
// worker: each is refused with a line on the status line, and nothing is asked or changed.
TEST_F(WindowRunInputsTest, TheRunsInputsAreRefusedDuringARunAndWorkAfterIt) {
    const std::string other = folder_ / "other.plr";
    WriteAll(other, "[PELOR]\nCODECHECK=1\n");
    struct Case {
        const char* name;
        std::function<void(MemoryDlg&)> act;
    };
    const Case cases[] = {
        {"Load", [](MemoryDlg& d) { Click(d, IDC_LOAD); }},
        {"Save As", [](MemoryDlg& d) { Click(d, IDC_SAVE_AS); }},
        {"Create Resource Binary", [](MemoryDlg& d) { Click(d, IDC_CREATE_RESOURCE_BINARY); }},
        {"a port selector", [](MemoryDlg& d) { d.PortSelector(1)->activate(7); }},
        {"a port selector set to none", [](MemoryDlg& d) { d.PortSelector(0)->activate(0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto dlg = StartWithPorts();
        dialogs_ = ScriptedDialogs();
        dialogs_.files = {other, other};
        dialogs_.folder = folder_.path();
        RunWithStandIns(*dlg, [&] {
            c.act(*dlg);
            EXPECT_NE(dlg->ControlText(IDC_STATUS_LINE).find("until the run has ended"),
                      std::string::npos)
                << dlg->ControlText(IDC_STATUS_LINE);
        });
        EXPECT_TRUE(dialogs_.opened.empty());
        EXPECT_TRUE(dialogs_.saved.empty());
        EXPECT_TRUE(dialogs_.browsed.empty());
        EXPECT_TRUE(dialogs_.notices.empty());
        EXPECT_EQ(dlg->Port(0), 2);
        EXPECT_EQ(dlg->Port(1), 3);
        EXPECT_EQ(dlg->PortSelector(0)->currentIndex(), 2);
        EXPECT_EQ(dlg->PortSelector(1)->currentIndex(), 3);
        EXPECT_FALSE(std::filesystem::exists(folder_ / "VORODOV_rsc.bin"));
    }

    // After the run they work as before.
    auto dlg = StartWithPorts();
    dialogs_ = ScriptedDialogs();
    dialogs_.files = {other};
    RunWithStandIns(*dlg, [] {});
    dlg->PortSelector(1)->activate(7);
    EXPECT_EQ(dlg->Port(1), 7);
    Click(*dlg, IDC_LOAD);
    EXPECT_EQ(dialogs_.opened.size(), 1u);
    EXPECT_EQ(dlg->ControlText(IDC_JOB_FILE), other);
}

// --- Handsets plugged in before the window started ------------------------------------------

class WindowStartPortsTest : public WindowTest {};

TEST_F(WindowStartPortsTest, WithAutoOnPortsPresentAtStartAreAssignedInPortOrder) {
    // USB1 has kept COM1 from an earlier session; USB0 is new and gets the next number. The
    // settings' notice (a job file that could not be read) keeps the status line.
    auto dlg =
        Start("[PELOR]\nPELORFILE=" + (folder_ / "gone.plr") + "\n[PORTS]\nCOM1=/dev/ttyUSB1\n");
    const std::string notice = dlg->ControlText(IDC_STATUS_LINE);
    ASSERT_NE(notice.find("gone.plr"), std::string::npos) << notice;
    ASSERT_TRUE(dlg->IsChecked(IDC_AUTO));
    dlg->OnDevicesPresent({"/dev/ttyUSB0", "/dev/ttyUSB1"});
    EXPECT_EQ(dlg->Port(0), 1);
    EXPECT_EQ(dlg->Port(1), 2);
#ifndef _WIN32
    EXPECT_EQ(PORTTABLE_Device(2), "/dev/ttyUSB0");  // a COM number names its own device there
#endif
    for (int ch : {0, 1}) {
        EXPECT_EQ(dlg->ChannelBar(ch)->GetWindowText(), "Ready...");
        EXPECT_FALSE(dlg->PortSelector(ch)->isEnabled());
    }
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());  // the README's plug in, start, Download
    EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE), notice);
}
