// The window with simulated handsets on loopback lines: a refused selection step reads as failed
// on its bar, and in production mode a port picked by hand while armed is watched at once.
#include <chrono>
#include <filesystem>
#include <memory>
#include <vector>

#include "dialog_template.h"
#include "loop_socket.h"
#include "window_fixture.h"

using namespace window_test;
using namespace std::chrono_literals;

namespace {

class WindowHandsetTest : public WindowTest {
protected:
    void SetUp() override {
        const std::string code = folder_ / "WZRTAll";
        std::filesystem::create_directories(code);
        WriteAll(code + "/partition.mbn", std::string(300, 'p'));
        WriteAll(code + "/WZRTAllhd.mbn", std::string(1200, 'h'));
        WriteAll(code + "/WZRTAll.mbn", std::string(0x70000 + 16384, 'a'));
        WriteAll(Job(), "[PELOR]\nCODECHECK=1\nCODEFILE=" + code + "\n");
    }
    // A window with no port given, and n sockets.
    std::unique_ptr<MemoryDlg> StartWith(int n) {
        auto dlg = Start("[PELOR]\nAUTODETECT=0\nDELAY=0\n");
        dlg->KeepNoResults();
        static int line = 0;
        ++line;
        for (int s = 0; s < n; ++s) {
            sockets_.push_back(std::make_unique<LoopSocket>("hs" + std::to_string(line) + "s" +
                                                            std::to_string(s)));
        }
        return dlg;
    }
    static bool StartsWith(const std::string& text, const std::string& prefix) {
        return text.rfind(prefix, 0) == 0;
    }

    std::vector<std::unique_ptr<LoopSocket>> sockets_;
};

}  // namespace

TEST_F(WindowHandsetTest, ARefusedSelectionStepReadsAsFailedOnItsBar) {
    auto dlg = StartWith(3);
    sockets_[0]->Plug("refuse:SECURITY_MODE:1");
    sockets_[1]->Plug("refuse:INIT_AMSS_HEADER:1");
    sockets_[2]->Plug();
    for (int ch = 0; ch < 3; ++ch) dlg->SetChannelPort(ch, sockets_[ch]->port());
    Click(*dlg, IDC_DOWNLOAD);  // returns when the run is over
    EXPECT_EQ(dlg->ChannelBar(0)->GetWindowText(), "ERR: Security Mode");
    EXPECT_EQ(dlg->ChannelBar(1)->GetWindowText(), "ERR: Init AMSS Header");
    EXPECT_TRUE(StartsWith(dlg->ChannelBar(2)->GetWindowText(), "Download Complete! ["))
        << dlg->ChannelBar(2)->GetWindowText();
}

TEST_F(WindowHandsetTest, ArmedAPortPickedByHandIsWatchedAtOnce) {
    auto dlg = StartWith(2);
    dlg->SetContinuous(true);
    sockets_[0]->Plug();
    sockets_[1]->Plug();  // plugged in, but on no channel yet
    dlg->SetChannelPort(0, sockets_[0]->port());
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    bool picked = false;
    dlg->SetDuringPump([&] {
        if (!dlg->Armed() || !dlg->Control(IDC_DOWNLOAD)->isEnabled()) return;
        if (!picked && StartsWith(dlg->ChannelBar(0)->GetWindowText(), "OK: ")) {
            picked = true;
            dlg->PortSelector(1)->activate(sockets_[1]->port());
        }
        const bool second = StartsWith(dlg->ChannelBar(1)->GetWindowText(), "OK: ");
        if (second || std::chrono::steady_clock::now() > deadline) Click(*dlg, IDC_DOWNLOAD);
    });
    Click(*dlg, IDC_DOWNLOAD);  // armed until Stop
    EXPECT_FALSE(dlg->Armed());
    EXPECT_TRUE(picked);
    EXPECT_EQ(dlg->Port(1), sockets_[1]->port());
    EXPECT_TRUE(StartsWith(dlg->ChannelBar(1)->GetWindowText(), "OK: "))
        << dlg->ChannelBar(1)->GetWindowText();
}
