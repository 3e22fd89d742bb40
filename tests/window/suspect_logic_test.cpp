// A socket going bad in the window: its bar and the status line say so while the station is
// armed, and a double-click on the bar acknowledges it. The handsets sit on loopback lines.
#include <chrono>
#include <memory>

#include "dialog_template.h"
#include "sim/sim_fault.h"
#include "sim/sim_handset.h"
#include "transport/loopback_port.h"
#include "transport/port_table.h"
#include "window_fixture.h"

using namespace window_test;

namespace {

// A loopback line with a port number and the handset plugged into it.
struct Line {
    explicit Line(std::string name) : name(std::move(name)) {
        port = PORTTABLE_Assign("loop:" + this->name);
    }
    ~Line() {
        if (!handset) return;
        LOOPBACK_Remove(name);
        handset->Unplug();
    }
    void Plug(const std::string& faults = "") {
        SimOptions options;
        std::string error;
        if (!faults.empty()) {
            EXPECT_TRUE(SIM_ParseFaults(faults, options.faults, error)) << error;
        }
        handset = SimHandset::StartOnFd(LOOPBACK_Create(name), std::move(options));
    }
    std::string name;
    int port = 0;
    std::unique_ptr<SimHandset> handset;
};

class WindowSuspectTest : public WindowTest {};

}  // namespace

TEST_F(WindowSuspectTest, ASuspectSocketShowsOnItsBarAndTheStatusLineUntilAcknowledged) {
    const std::string code = folder_ / "WZRTAll";
    std::filesystem::create_directories(code);
    WriteAll(code + "/partition.mbn", std::string(300, 'p'));
    WriteAll(code + "/WZRTAllhd.mbn", std::string(1200, 'h'));
    WriteAll(code + "/WZRTAll.mbn", std::string(0x70000 + 3 * 16384, 'a'));
    WriteAll(Job(), "[PELOR]\nCODECHECK=1\nCODEFILE=" + code + "\n");
    // One job per socket is enough to judge by, from the settings file.
    auto dlg = Start(
        "[PELOR]\nAUTODETECT=0\nDELAY=0\nSUSPECT_WINDOW=1\nSUSPECT_FAILURES=1\n"
        "SUSPECT_MIN_JOBS=1\n");
    dlg->KeepNoResults();
    std::vector<std::unique_ptr<Line>> lines;
    for (int ch = 0; ch < 2; ++ch) {
        lines.push_back(std::make_unique<Line>("suspect-s" + std::to_string(ch)));
        dlg->SetChannelPort(ch, lines.back()->port);
    }
    dlg->SetContinuous(true);
    lines[0]->Plug();
    lines[1]->Plug("unplug:WRITE:2");  // its cable gives way in the middle of the image
    std::string flaggedBar, flaggedStatus, soundBar, acknowledgedBar, acknowledgedStatus;
    bool acknowledgedTwice = true;
    dlg->SetDuringPump([&] {
        if (!dlg->Armed() || !acknowledgedBar.empty()) return;
        const std::string status = dlg->ControlText(IDC_STATUS_LINE);
        if (status.find("suspect: ch1") == std::string::npos) return;
        // Between its jobs (a job running shows its own steps on the bar).
        if (dlg->ChannelBar(1)->GetWindowText().find("SUSPECT") == std::string::npos) return;
        flaggedBar = dlg->ChannelBar(1)->GetWindowText();
        flaggedStatus = status;
        soundBar = dlg->ChannelBar(0)->GetWindowText();
        EXPECT_TRUE(dlg->OnAcknowledgeSuspect(1));  // the double-click
        acknowledgedTwice = dlg->OnAcknowledgeSuspect(1);
        acknowledgedBar = dlg->ChannelBar(1)->GetWindowText();
        acknowledgedStatus = dlg->ControlText(IDC_STATUS_LINE);
        Click(*dlg, IDC_DOWNLOAD);  // Stop
    });
    Click(*dlg, IDC_DOWNLOAD);
    EXPECT_FALSE(dlg->Armed());
    EXPECT_NE(flaggedBar.find("  SUSPECT: 1 of 1 failed ("), std::string::npos) << flaggedBar;
    EXPECT_NE(flaggedStatus.find("; suspect: ch1 (double-click its bar to acknowledge)"),
              std::string::npos)
        << flaggedStatus;
    EXPECT_EQ(soundBar.rfind("OK: ", 0), 0u) << soundBar;
    EXPECT_EQ(soundBar.find("SUSPECT"), std::string::npos) << soundBar;
    EXPECT_EQ(acknowledgedBar, flaggedBar.substr(0, flaggedBar.find("  SUSPECT")));
    EXPECT_EQ(acknowledgedStatus.find("suspect"), std::string::npos) << acknowledgedStatus;
    EXPECT_FALSE(acknowledgedTwice) << "only a suspect socket is acknowledged";
}
