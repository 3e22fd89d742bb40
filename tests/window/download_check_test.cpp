// Download's check in the window is the command line's: every file of the run is there before
// a port opens, a device is on one channel only however it is named, and a Download without a
// port says why nothing started. The handset sits on a loopback line.
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "dialog_template.h"
#include "jobs/runner.h"
#include "sim/sim_handset.h"
#include "transport/loopback_port.h"
#include "transport/port_table.h"
#include "window_fixture.h"

using namespace window_test;

namespace {

class WindowDownloadCheck : public WindowTest {
protected:
    void TearDown() override {
        if (!handset_) return;
        LOOPBACK_Remove("check");
        handset_->Unplug();
    }
    // A code folder with the boot chain, a resource image and the job file naming both.
    std::string MakeImages() {
        const std::string code = folder_ / "WZRTAll";
        std::filesystem::create_directories(code);
        WriteAll(code + "/partition.mbn", std::string(300, 'p'));
        for (const char* boot : {"pbl", "qcsblhd_cfgdata", "qcsbl", "oemsblhd", "oemsbl"}) {
            WriteAll(code + "/" + boot + ".mbn", std::string(500, 'b'));
        }
        WriteAll(code + "/WZRTAllhd.mbn", std::string(1200, 'h'));
        WriteAll(code + "/WZRTAll.mbn", std::string(2 * 16384, 'a'));
        WriteAll(folder_ / "res.bin", std::string(3000, 'r'));
        WriteAll(Job(), "[PELOR]\nCODECHECK=1\nCODEFILE=" + code +
                            "\nETC2CHECK=1\nETC2FILE=" + (folder_ / "res.bin") + "\n");
        return code;
    }
    // Channel 0 gets a port with a handset on it.
    void PlugHandset(MemoryDlg& dlg) {
        handset_ = SimHandset::StartOnFd(LOOPBACK_Create("check"), SimOptions{});
        dlg.SetChannelPort(0, PORTTABLE_Assign("loop:check"));
    }

    std::unique_ptr<SimHandset> handset_;
};

TEST_F(WindowDownloadCheck, AMissingBootFileWithEraseNandSendsTheHandsetNothing) {
    const std::string code = MakeImages();
    std::filesystem::remove(code + "/pbl.mbn");
    auto dlg = Start("[PELOR]\nAUTODETECT=0\nDELAY=0\n");
    PlugHandset(*dlg);
    dialogs_.answers = {true, true};  // erase NAND?  change the boot loader?
    Click(*dlg, IDC_ERASE_NAND);
    ASSERT_TRUE(dlg->IsChecked(IDC_ERASE_NAND));
    ASSERT_TRUE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));

    Click(*dlg, IDC_DOWNLOAD);
    ASSERT_EQ(dialogs_.notices.size(), 1u);
    EXPECT_EQ(dialogs_.notices[0], "ERR: No File: the code folder " + code +
                                       " lacks pbl.mbn (it needs partition.mbn, pbl.mbn, "
                                       "qcsblhd_cfgdata.mbn, qcsbl.mbn, oemsblhd.mbn, oemsbl.mbn, "
                                       "WZRTAllhd.mbn, WZRTAll.mbn)");
    EXPECT_EQ(dlg->DownloadStarts(), 0);
    EXPECT_EQ(handset_->BytesReceived(), 0u) << "the erase went out before the missing file";

    // With the file back the same choices run through.
    WriteAll(code + "/pbl.mbn", std::string(500, 'b'));
    Click(*dlg, IDC_DOWNLOAD);
    EXPECT_EQ(dialogs_.notices.size(), 1u) << dialogs_.notices.back();
    EXPECT_EQ(dlg->ChannelBar(0)->GetWindowText().rfind("Download Complete!", 0), 0u)
        << dlg->ChannelBar(0)->GetWindowText();
}

TEST_F(WindowDownloadCheck, OneDeviceOnTwoChannelsOrNoPortStartsNothingAndSaysWhy) {
    MakeImages();
    // Two names of one device: a link (as /dev/serial/by-path gives) and what it leads to.
    WriteAll(folder_ / "ttyUSB0", "");
    std::filesystem::create_symlink(folder_ / "ttyUSB0", folder_ / "pci-0000:00:14.0-usb-0:2");
    WriteAll(folder_ / "ttyUSB1", "");
    const std::string table = "[PORTS]\nCOM4=" + (folder_ / "pci-0000:00:14.0-usb-0:2") +
                              "\nCOM5=" + (folder_ / "ttyUSB0") +
                              "\nCOM6=" + (folder_ / "ttyUSB1") + "\n";
    const struct {
        const char* settings;
        std::string says;  // empty: it starts
    } cases[] = {
        // Saved ports, taken when Auto is off.
        {"CH0_PORT=3\nCH2_PORT=3\n",
         "COM3 is given to channels 0 and 2: a handset is written by one channel; give it to one "
         "of them"},
        {"CH1_PORT=4\nCH3_PORT=5\n",
         "COM4 and COM5 of channels 1 and 3 are one device (" + (folder_ / "ttyUSB0") +
             "): a handset is written by one channel; give it to one of them"},
        {"",
         "No port: nothing was started. Choose a COM port for a channel, or turn Auto on and "
         "plug a handset in"},
        {"CH0_PORT=5\nCH1_PORT=6\n", ""},
    };
    for (const auto& c : cases) {
        dialogs_.notices.clear();
        int starts = 0;
        PELOR_SetWorkerStarter([&](std::thread&, int, const std::function<void()>&) {
            ++starts;
            return false;
        });
        auto dlg = Start("[PELOR]\nAUTODETECT=0\nDELAY=0\n" + std::string(c.settings) + table);
        Click(*dlg, IDC_DOWNLOAD);
        if (c.says.empty()) {
            EXPECT_TRUE(dialogs_.notices.empty()) << c.settings << dialogs_.notices.front();
            EXPECT_EQ(starts, 2) << c.settings;
        } else {
            EXPECT_EQ(dialogs_.notices, Strings{c.says}) << c.settings;
            EXPECT_EQ(starts, 0) << c.settings;
            EXPECT_EQ(dlg->Running(), 0);
        }
        dlg->SetSaveOnClose(false);
    }
}

}  // namespace
