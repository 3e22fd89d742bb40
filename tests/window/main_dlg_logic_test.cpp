// The window's logic on the in-memory host: start-up from the settings, the row handlers, the
// status display and the hand-over of workers' messages, Download's refusals, and the routing of
// clicks and choices by control ID.
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "config/settings.h"
#include "dialog_template.h"
#include "jobs/runner.h"
#include "jobs/station.h"
#include "jobs/status.h"
#include "window_fixture.h"

using namespace window_test;

namespace {

class WindowLogicTest : public WindowTest {};

}  // namespace

// --- Start-up --------------------------------------------------------------------------------

TEST_F(WindowLogicTest, FirstStartWithoutSettingsHasAutoOnAndNoPorts) {
    auto dlg = Start();
    EXPECT_TRUE(dlg->IsChecked(IDC_AUTO));
    for (int ch = 0; ch < kChannels; ++ch) {
        MemoryControl* selector = dlg->PortSelector(ch);
        ASSERT_EQ(selector->count(), 31);
        EXPECT_EQ(selector->itemText(0), std::string("-----------"));
        EXPECT_EQ(selector->itemText(30), std::string("COM30"));
        EXPECT_EQ(selector->currentIndex(), 0);
        EXPECT_EQ(dlg->Port(ch), 0);
    }
    EXPECT_FALSE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    EXPECT_EQ(dlg->Running(), 0);
    EXPECT_TRUE(dlg->IsChecked(IDC_FORMAT));
    EXPECT_EQ(dlg->ControlText(IDC_JOB_FILE), Job());
    // The Code row is on; Change Boot Area is off, so the code address is "70000".
    EXPECT_TRUE(dlg->IsChecked(IDC_CODE_CHECK));
    EXPECT_FALSE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "70000");
    // The code folder's default: "WZRTAll" under the (empty) root, with the platform's separator.
    EXPECT_EQ(
        dlg->ControlText(IDC_CODE_BAR),
        std::string(1, static_cast<char>(std::filesystem::path::preferred_separator)) + "WZRTAll");
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

TEST_F(WindowLogicTest, SavedPortsAreShownWhenAutoIsOff) {
    WriteAll(Settings(), "[PELOR]\nAUTODETECT=0\nCH3_PORT=5\nCH6_PORT=42\n");
    auto dlg = Start();
    EXPECT_FALSE(dlg->IsChecked(IDC_AUTO));
    EXPECT_EQ(dlg->Port(3), 5);
    EXPECT_EQ(dlg->PortSelector(3)->currentText(), std::string("COM5"));
    // A port above 30 has no entry, but the channel keeps it.
    EXPECT_EQ(dlg->Port(6), 42);
    EXPECT_EQ(dlg->PortSelector(6)->currentIndex(), -1);
    EXPECT_EQ(dlg->PortSelector(0)->currentIndex(), 0);
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
}

TEST_F(WindowLogicTest, JobFileRowsReachTheControls) {
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

TEST_F(WindowLogicTest, UncheckingCodeLocksItsRowAndResetsChangeBootArea) {
    dialogs_.answers = {true};
    auto dlg = Start();
    dlg->Button(IDC_CHANGE_BOOT_AREA)->click();
    ASSERT_TRUE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    ASSERT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "0");

    dlg->Button(IDC_CODE_CHECK)->click();
    EXPECT_EQ(g_bCodeCheck, 0);
    EXPECT_FALSE(dlg->Control(IDC_CODE_BAR)->isEnabled());
    EXPECT_FALSE(dlg->Control(IDC_CODE_ADDRESS)->isEnabled());
    EXPECT_FALSE(dlg->Control(IDC_CHANGE_BOOT_AREA)->isEnabled());
    EXPECT_FALSE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_EQ(g_bChangeBootArea, 0);
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "70000");
    EXPECT_STREQ(g_szCodeAddress, "70000");
    EXPECT_TRUE(dlg->Control(IDC_CODE_PICK)->isEnabled());

    dlg->Button(IDC_CODE_CHECK)->click();
    EXPECT_EQ(g_bCodeCheck, 1);
    EXPECT_TRUE(dlg->Control(IDC_CODE_BAR)->isEnabled());
    EXPECT_TRUE(dlg->Control(IDC_CHANGE_BOOT_AREA)->isEnabled());
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "70000");
    EXPECT_EQ(dialogs_.questions, std::vector<std::string>{"Change Boot Loader?"});
}

TEST_F(WindowLogicTest, ChangeBootAreaAnsweredNoChangesNothing) {
    auto dlg = Start();
    dialogs_.answers = {false};
    dlg->Button(IDC_CHANGE_BOOT_AREA)->click();
    EXPECT_FALSE(dlg->IsChecked(IDC_CHANGE_BOOT_AREA));
    EXPECT_EQ(g_bChangeBootArea, 0);
    EXPECT_EQ(dlg->ControlText(IDC_CODE_ADDRESS), "70000");
    dialogs_.answers = {true};
    dlg->Button(IDC_CHANGE_BOOT_AREA)->click();
    EXPECT_EQ(g_bChangeBootArea, 1);
    EXPECT_STREQ(g_szCodeAddress, "0");
    // Unchecking asks nothing.
    dlg->Button(IDC_CHANGE_BOOT_AREA)->click();
    EXPECT_EQ(dialogs_.questions.size(), 2u);
    EXPECT_STREQ(g_szCodeAddress, "70000");
}

TEST_F(WindowLogicTest, RowCheckBoxesEnableTheirBarAndAddressButNotThePicker) {
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

TEST_F(WindowLogicTest, FormatFlipsWithItsBox) {
    auto dlg = Start();
    dlg->Button(IDC_FORMAT)->click();
    EXPECT_FALSE(dlg->IsChecked(IDC_FORMAT));
    EXPECT_EQ(g_bFormat.load(), 0);
    dlg->Button(IDC_FORMAT)->click();
    EXPECT_EQ(g_bFormat.load(), 1);
}

TEST_F(WindowLogicTest, ProgressTextsPercentagesAndBarRanges) {
    auto dlg = Start();
    IMAGE_ENTRY amss = Progress(0, 12, 262144, 1000000);
    EXPECT_EQ(dlg->OnDownloadStatus(STATUS_PROGRESS, &amss), 0);
    MemoryControl* bar0 = dlg->ChannelBar(0);
    EXPECT_EQ(bar0->GetWindowText(), std::string("AMSS: 26% [262144/1000000]"));
    EXPECT_EQ(bar0->Upper(), 1000000);
    EXPECT_EQ(bar0->Pos(), 262144);

    IMAGE_ENTRY pbl = Progress(4, 6, 524288, 5242880);
    dlg->OnDownloadStatus(STATUS_PROGRESS, &pbl);
    MemoryControl* bar4 = dlg->Bar(1039);
    EXPECT_EQ(bar4->GetWindowText(), std::string("PBL: 10% [524288/5242880]"));
    EXPECT_EQ(bar4->Lower(), 0);
    EXPECT_EQ(bar4->Upper(), 5242880);
    EXPECT_EQ(bar4->Pos(), 524288);

    // Equal counts, 0 of 0 included, are "Done" with a full bar whatever the slot.
    IMAGE_ENTRY empty = Progress(4, 2, 0, 0);
    dlg->OnDownloadStatus(STATUS_PROGRESS, &empty);
    EXPECT_EQ(bar4->GetWindowText(), std::string("Done"));
    EXPECT_EQ(bar4->Upper(), 100);
    EXPECT_EQ(bar4->Pos(), 100);

    // Below 100 bytes the percentage is nSent * 100 / nSize (no division by zero).
    IMAGE_ENTRY small = Progress(7, 13, 20, 50);
    dlg->OnDownloadStatus(STATUS_PROGRESS, &small);
    EXPECT_EQ(dlg->Bar(1045)->GetWindowText(), std::string("Resource: 40% [20/50]"));
}

TEST_F(WindowLogicTest, ChannelAndStationTextsGoToTheirOwnControls) {
    auto dlg = Start();
    IMAGE_ENTRY amss = Progress(5, 12, 300000, 1000000);
    dlg->OnDownloadStatus(STATUS_PROGRESS, &amss);
    MemoryControl* bar5 = dlg->Bar(1041);

    IMAGE_ENTRY blank = ChannelText(5, "");
    dlg->OnDownloadStatus(STATUS_CHANNEL_TEXT, &blank);
    EXPECT_EQ(bar5->GetWindowText(), std::string("AMSS: 30% [300000/1000000]"));
    EXPECT_EQ(bar5->Pos(), 300000);

    IMAGE_ENTRY open = ChannelText(5, "ERR: Open");
    dlg->OnDownloadStatus(STATUS_CHANNEL_TEXT, &open);
    EXPECT_EQ(bar5->GetWindowText(), std::string("ERR: Open"));
    EXPECT_EQ(bar5->Upper(), 100);
    EXPECT_EQ(bar5->Pos(), 0);

    dlg->OnDownloadStatus(STATUS_STATION_TEXT, "SERIAL_DEVICE_Open(COM7) Failed!");
    EXPECT_EQ(dlg->ControlText(IDC_STATUS_LINE), std::string("SERIAL_DEVICE_Open(COM7) Failed!"));
    for (int ch = 0; ch < kChannels; ++ch) {
        EXPECT_NE(dlg->ChannelBar(ch)->GetWindowText(),
                  std::string("SERIAL_DEVICE_Open(COM7) Failed!"));
    }
    // Null records and unknown kinds change nothing.
    dlg->OnDownloadStatus(STATUS_PROGRESS, nullptr);
    dlg->OnDownloadStatus(STATUS_CHANNEL_TEXT, nullptr);
    dlg->OnDownloadStatus(99, &open);
    EXPECT_EQ(bar5->GetWindowText(), std::string("ERR: Open"));
}

TEST_F(WindowLogicTest, AWorkersMessageIsShownOnTheWindowThreadWhileTheWorkerWaits) {
    auto dlg = Start();
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        IMAGE_ENTRY text = ChannelText(2, "Init AMSS");
        dlg->OnStatusMessage(WM_DOWNLOAD_STATUS, STATUS_CHANNEL_TEXT, &text);
        // The record lived on this stack: it must have been read before the call returned.
        std::memset(text.szPath, 'x', 16);
        returned = true;
    });
    ASSERT_TRUE(dlg->PumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(dlg->Bar(1035)->GetWindowText(), std::string("Init AMSS"));
    // Another message number is not the status message.
    IMAGE_ENTRY other = ChannelText(2, "ignored");
    dlg->OnStatusMessage(WM_DOWNLOAD_STATUS + 1, STATUS_CHANNEL_TEXT, &other);
    // From the window's own thread it is handled directly.
    IMAGE_ENTRY own = ChannelText(2, "resource : 0% [1/4]");
    dlg->OnStatusMessage(WM_DOWNLOAD_STATUS, STATUS_CHANNEL_TEXT, &own);
    EXPECT_EQ(dlg->Bar(1035)->GetWindowText(), std::string("resource : 0% [1/4]"));
}

TEST_F(WindowLogicTest, AlertsAreBoxesOnTheWindowThreadWhileOtherChannelsGoOn) {
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
        EXPECT_TRUE(dlg->PumpUntil([&] { return otherReturned.load(); }));
        EXPECT_FALSE(alertReturned.load());
    };
    std::thread worker([&] {
        dlg->OnAlert(1, "Downloader Version Incorrect !!!!!!");
        alertReturned = true;
    });
    ASSERT_TRUE(dlg->PumpUntil([&] { return alertReturned.load(); }));
    worker.join();
    other.join();
    ASSERT_EQ(dialogs_.notices, std::vector<std::string>{"Downloader Version Incorrect !!!!!!"});
    EXPECT_EQ(dialogs_.noticeThreads[0], windowThread);
    EXPECT_EQ(dlg->Bar(1037)->GetWindowText(), std::string("Init QCSBL"));
}

TEST_F(WindowLogicTest, DownloadWithNothingCheckedSaysSelectImage) {
    WriteAll(Settings(), "[PELOR]\nAUTODETECT=0\nCH0_PORT=1\n");
    WriteAll(Job(), "[PELOR]\nCODECHECK=0\n");
    auto dlg = Start();
    dlg->Button(IDC_DOWNLOAD)->click();
    EXPECT_EQ(dialogs_.notices, std::vector<std::string>{"Select Image !"});
    EXPECT_EQ(dlg->Running(), 0);
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    EXPECT_EQ(STATION_Current().notifyTarget.load(), nullptr);
}

TEST_F(WindowLogicTest, DownloadWithAnEmptyCodeAddressIsRefused) {
    WriteAll(Settings(), "[PELOR]\nAUTODETECT=0\nCH0_PORT=1\n");
    auto dlg = Start();
    dlg->Control(IDC_CODE_ADDRESS)->clear();
    dlg->Button(IDC_DOWNLOAD)->click();
    EXPECT_EQ(dialogs_.notices, std::vector<std::string>{"Invalid Code Image/Address !"});
    EXPECT_EQ(dlg->Running(), 0);
}

TEST_F(WindowLogicTest, MissingImageSaysNoFileStartsNothingAndKeepsTheWindow) {
    WriteAll(Settings(), "[PELOR]\nAUTODETECT=0\nCH0_PORT=1\n");
    WriteAll(Job(), "[PELOR]\nCODEFILE=" + (folder_ / "nowhere") + "\n");
    std::atomic<int> started{0};
    PELOR_SetWorkerStarter([&](std::thread&, int, const std::function<void()>&) {
        ++started;
        return false;
    });
    auto dlg = Start();
    dlg->Button(IDC_RESOURCE_CHECK)->click();  // an unsaved choice
    dlg->Button(IDC_DOWNLOAD)->click();
    EXPECT_EQ(dialogs_.notices,
              std::vector<std::string>{"ERR: No File: the code folder " + (folder_ / "nowhere") +
                                       " does not exist; no resource image is chosen"});
    EXPECT_EQ(started.load(), 0);
    EXPECT_TRUE(exitCodes_.empty());
    EXPECT_EQ(dlg->Running(), 0);
    EXPECT_TRUE(dlg->IsChecked(IDC_RESOURCE_CHECK));
    EXPECT_TRUE(dlg->Control(IDC_DOWNLOAD)->isEnabled());
    // Nothing was saved.
    EXPECT_EQ(ReadAll(Settings()), "[PELOR]\nAUTODETECT=0\nCH0_PORT=1\n");
    EXPECT_EQ(ReadAll(Job()), "[PELOR]\nCODEFILE=" + (folder_ / "nowhere") + "\n");
}

// --- Routing ---------------------------------------------------------------------------------

TEST_F(WindowLogicTest, EveryButtonOfTheTemplateHasAHandlerAndNothingElseDoes) {
    auto dlg = Start();
    int routed = 0;
    for (const DialogControl& c : kMainDialogTemplate) {
        if (c.id == IDC_STATIC) continue;
        const bool button = c.kind == ControlKind::CheckBox || c.kind == ControlKind::PushButton ||
                            c.kind == ControlKind::RadioButton;
        if (!button) {
            EXPECT_FALSE(dlg->OnCommand(c.id)) << c.id;
            continue;
        }
        if (c.id == IDC_DOWNLOAD) continue;  // would start a run; refused below
        ASSERT_TRUE(dlg->OnCommand(c.id)) << c.id;
        ++routed;
    }
    EXPECT_EQ(routed, 20);
    EXPECT_FALSE(dlg->OnCommand(0));
    EXPECT_FALSE(dlg->OnCommand(IDC_STATIC));
    // The eight selectors report choices; nothing else does.
    for (int id : kPortSelectorIds) EXPECT_TRUE(dlg->OnSelectionChange(id));
    EXPECT_FALSE(dlg->OnSelectionChange(IDC_AUTO));
    EXPECT_FALSE(dlg->OnSelectionChange(kChannelBarIds[0]));
}

TEST_F(WindowLogicTest, ProgrammaticChangesRunNoHandler) {
    auto dlg = Start();
    // Setting a check box from the program is not the operator's click: no question.
    dlg->SetCheck(IDC_CHANGE_BOOT_AREA, true);
    EXPECT_TRUE(dialogs_.questions.empty());
    EXPECT_EQ(g_bChangeBootArea, 0);
    dlg->Select(kPortSelectorIds[0], 4);
    EXPECT_EQ(dlg->Port(0), 0);
}

TEST_F(WindowLogicTest, TemplateDialogUnitsRoundAsWindowsDoes) {
    // 379 x 323 with base 6 x 13 is 569 x 525 (x*6/4 and y*13/8, rounded).
    const DialogUnits fixed{6, 13};
    EXPECT_EQ(fixed.X(379), 569);
    EXPECT_EQ(fixed.Y(323), 525);
    // Edges are mapped, not sizes: two controls that meet in the template meet on screen.
    const DialogRect a = fixed.Map(1, 1, 1, 1), b = fixed.Map(2, 1, 1, 1);
    EXPECT_EQ(a.x + a.width, b.x);
    EXPECT_EQ(DialogUnits::FromMetrics(310, 16).baseX, 6);  // 5.96 rounds up
    EXPECT_EQ(DialogUnits::FromMetrics(0, 0).baseX, 1);     // never zero
    EXPECT_EQ(DialogUnits::FromMetrics(0, 0).baseY, 1);
    EXPECT_EQ(UI_FindControl(IDC_DOWNLOAD)->kind, ControlKind::PushButton);
    EXPECT_EQ(UI_FindControl(IDC_STATIC), nullptr);
    EXPECT_EQ(UI_FindControl(4242), nullptr);
}

// --- The hand-over ---------------------------------------------------------------------------

TEST_F(WindowLogicTest, AWorkerWaitsUntilTheWindowThreadPumpsAndNotLonger) {
    auto dlg = Start();
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        IMAGE_ENTRY text = ChannelText(6, "Init PBL");
        dlg->OnStatusMessage(WM_DOWNLOAD_STATUS, STATUS_CHANNEL_TEXT, &text);
        returned = true;
    });
    // Until the window's thread pumps, the message waits and the worker with it.
    while (dlg->Waiting() == 0) std::this_thread::yield();
    EXPECT_FALSE(returned.load());
    EXPECT_TRUE(dlg->ChannelBar(6)->GetWindowText().empty());
    ASSERT_TRUE(dlg->PumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(dlg->ChannelBar(6)->GetWindowText(), "Init PBL");
    EXPECT_EQ(dlg->BarsShown(), std::vector<int>{6});
}

TEST_F(WindowLogicTest, AWindowThatIsGoneReleasesItsWorkersWithoutShowingAnything) {
    auto dlg = Start();
    std::atomic<int> returned{0};
    std::atomic<long> result{-1};
    std::thread worker([&] {
        IMAGE_ENTRY text = ChannelText(1, "late");
        result = dlg->OnStatusMessage(WM_DOWNLOAD_STATUS, STATUS_CHANNEL_TEXT, &text);
        dlg->OnAlert(1, "late alert");
        ++returned;
    });
    while (dlg->Waiting() == 0) std::this_thread::yield();
    dlg->CloseWindow();
    worker.join();
    EXPECT_EQ(returned.load(), 1);
    EXPECT_EQ(result.load(), 0);
    dlg->PumpEvents(std::chrono::milliseconds(1));
    EXPECT_TRUE(dlg->ChannelBar(1)->GetWindowText().empty());
    EXPECT_TRUE(dialogs_.notices.empty());
}

TEST_F(WindowLogicTest, ManyWorkersAreAllShownEachExactlyOnce) {
    auto dlg = Start();
    constexpr int kMessages = 200;
    std::atomic<int> done{0};
    std::vector<std::thread> workers;
    for (int ch = 0; ch < kChannels; ++ch) {
        workers.emplace_back([&, ch] {
            for (int i = 1; i <= kMessages; ++i) {
                IMAGE_ENTRY p = Progress(ch, 12, i, kMessages);
                dlg->OnStatusMessage(WM_DOWNLOAD_STATUS, STATUS_PROGRESS, &p);
            }
            ++done;
        });
    }
    ASSERT_TRUE(dlg->PumpUntil([&] { return done.load() == kChannels; }));
    for (auto& w : workers) w.join();
    EXPECT_EQ(dlg->BarsShown().size(), static_cast<std::size_t>(kChannels * kMessages));
    for (int ch = 0; ch < kChannels; ++ch) {
        EXPECT_EQ(dlg->ChannelBar(ch)->GetWindowText(), "Done");
        EXPECT_EQ(dlg->ChannelBar(ch)->Pos(), 100);
    }
}

// --- Closing ---------------------------------------------------------------------------------

TEST_F(WindowLogicTest, ClosingIdleSavesClosingDuringARunEndsTheProcessUnsaved) {
    {
        auto dlg = Start("[PELOR]\nAUTODETECT=0\nCH0_PORT=4\n");
        EXPECT_TRUE(dlg->DialogKeysEnabled());
        EXPECT_TRUE(dlg->OnClose());
        EXPECT_NE(ReadAll(Settings()).find("CH0_PORT=4"), std::string::npos);
        EXPECT_NE(ReadAll(Job()).find("CODEFILE="), std::string::npos);
    }
    EXPECT_TRUE(exitCodes_.empty());
    // The save-on-close switch of a simulated session.
    WriteAll(Settings(), "[PELOR]\nAUTODETECT=0\nCH0_PORT=5\n");
    auto dlg = Start();
    dlg->SetSaveOnClose(false);
    dlg->SetChannelPort(0, 9);
    EXPECT_TRUE(dlg->OnClose());
    EXPECT_EQ(ReadAll(Settings()), "[PELOR]\nAUTODETECT=0\nCH0_PORT=5\n");
}
