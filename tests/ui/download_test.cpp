// Download end to end: the window drives simulated handsets on pseudo-terminals through the
// real serial path, and an unattended simulated session saves its picture.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QImage>
#include <filesystem>

#include "caption_progress_ctrl.h"
#include "config/settings.h"
#include "dialog_template.h"
#include "jobs/file_download.h"
#include "qt_main_dlg.h"
#include "sim/sim_handset.h"
#include "station_simulation.h"
#include "transport/port_table.h"
#include "ui_test_support.h"

using ui_test::ScriptedDialogs;
using ui_test::StationFolder;
using ui_test::WriteAll;

namespace {

struct BarEvent {
    int channel;
    std::string text;
    int pos;
    int upper;
    bool downloadEnabled;
};

}  // namespace

TEST(DownloadTest, TwoSimulatedHandsetsAreFlashedWithProgressOnTheirOwnBars) {
    StationFolder folder;
    // Without Change Boot Area the code address is 70000: the AMSS image is written from there.
    constexpr int kAmssAddress = 0x70000;
    constexpr int kAmssSent = 400 * 1024;
    const std::string code = ui_test::MakeCodeFolder(folder.path(), kAmssAddress + kAmssSent);
    WriteAll(folder / "pelorw.ini", "[PELOR]\nAUTODETECT=0\nDELAY=0\n");
    WriteAll(folder / "default.plr", "[PELOR]\nCODECHECK=1\nCODEFILE=" + code + "\n");

    std::vector<std::unique_ptr<SimHandset>> handsets;
    std::string error;
    for (int i = 0; i < 2; ++i) {
        SimOptions options;  // no UART pacing
        handsets.push_back(SimHandset::StartOnPty(options, &error));
        ASSERT_TRUE(handsets.back()) << error;
    }
    ScriptedDialogs dialogs;
    QtMainDlg dlg(&dialogs);
    dlg.SetExitHandler([](int) { ADD_FAILURE() << "the process would have ended"; });
    for (int ch = 0; ch < 2; ++ch) {
        const int port = PORTTABLE_Assign(handsets[ch]->DevicePath());
        ASSERT_GT(port, 0);
        dlg.SetChannelPort(ch, port);
    }
    std::vector<BarEvent> events;
    QObject::connect(&dlg, &QtMainDlg::ChannelBarChanged, [&](int channel) {
        const CCaptionProgressCtrl* bar = dlg.ChannelBar(channel);
        events.push_back({channel, bar->GetWindowText().toStdString(), bar->Pos(), bar->Upper(),
                          dlg.Control(IDC_DOWNLOAD)->isEnabled()});
    });
    dlg.show();
    dlg.Button(IDC_DOWNLOAD)->click();

    EXPECT_TRUE(dialogs.notices.empty());
    EXPECT_EQ(dlg.Running(), 0);
    EXPECT_TRUE(dlg.Control(IDC_DOWNLOAD)->isEnabled());
    ASSERT_FALSE(events.empty());
    for (int ch = 0; ch < 2; ++ch) {
        bool amssProgress = false, done = false;
        std::string last;
        for (const BarEvent& e : events) {
            EXPECT_LT(e.channel, 2) << e.text;
            EXPECT_FALSE(e.downloadEnabled) << e.text;
            if (e.channel != ch) continue;
            if (e.text.rfind("AMSS: ", 0) == 0) {
                amssProgress = true;
                EXPECT_EQ(e.upper, kAmssSent);
                EXPECT_GT(e.pos, 0);
                EXPECT_LT(e.pos, e.upper);
            }
            done = done || e.text == "Done";
            last = e.text;
        }
        EXPECT_TRUE(amssProgress) << "channel " << ch;
        EXPECT_TRUE(done) << "channel " << ch;
        EXPECT_EQ(last.rfind("Download Complete! [", 0), 0u) << last;
        EXPECT_EQ(dlg.ChannelBar(ch)->GetWindowText().toStdString(), last);
        EXPECT_EQ(g_nChannelResult[ch].load(), 1) << "channel " << ch;
        // The station does not wait for GO to be taken: the handset may still be at it.
        EXPECT_TRUE(ui_test::PumpUntil([&] { return handsets[ch]->Started(); }))
            << "channel " << ch;
    }
    EXPECT_TRUE(dlg.ChannelBar(2)->GetWindowText().isEmpty());
    for (auto& h : handsets) h->Stop();
}

TEST(DownloadTest, UnattendedSimulationSavesAPictureMidRunAndFinishes) {
    StationFolder folder;
    WriteAll(folder / "pelorw.ini", "[PELOR]\nDELAY=0\n");
    ScriptedDialogs dialogs;
    QtMainDlg dlg(&dialogs);
    SimulationOptions options;
    options.handsets = 2;
    options.baud = 0;
    options.amssBytes = 600 * 1024;
    options.screenshot = folder / "station.png";
    std::string demo;
    {
        StationSimulation simulation(dlg, options);
        std::string error;
        ASSERT_EQ(simulation.Start(&error), 1) << error;
        demo = simulation.DemoFolder();
        EXPECT_FALSE(demo.empty());  // the job's "/WZRTAll" does not exist
        // Auto is on (no settings say otherwise): the handsets arrived and were assigned, and
        // each entry names its pseudo-terminal.
        EXPECT_EQ(dlg.PortSelector(0)->currentText().toStdString(),
                  "COM1 " + UI_PortDeviceName(simulation.Handset(0)->DevicePath()));
        EXPECT_FALSE(dlg.PortSelector(0)->isEnabled());
        EXPECT_EQ(dlg.ChannelBar(1)->GetWindowText(), QStringLiteral("Ready..."));
        EXPECT_EQ(dlg.PortSelector(0)->toolTip().toStdString(),
                  simulation.Handset(0)->DevicePath());
        EXPECT_NE(dlg.ControlText(IDC_STATUS_LINE).find("COM2 pts"), std::string::npos);
        EXPECT_EQ(dlg.Port(1), 2);
        EXPECT_TRUE(dlg.Control(IDC_DOWNLOAD)->isEnabled());
        simulation.RunUnattended();
        EXPECT_EQ(simulation.ExitCode(), 0) << simulation.Message();
        for (int ch = 0; ch < 2; ++ch) {
            SimHandset* handset = simulation.Handset(ch);
            EXPECT_TRUE(ui_test::PumpUntil([&] { return handset->Started(); })) << ch;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(demo));
    QImage picture(QString::fromStdString(folder / "station.png"));
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), dlg.size() * dlg.devicePixelRatio());
    // A simulated session leaves the operator's files alone.
    dlg.close();
    EXPECT_FALSE(ui_test::Exists(folder / "default.plr"));
    EXPECT_EQ(ui_test::ReadAll(folder / "pelorw.ini"), "[PELOR]\nDELAY=0\n");
}
