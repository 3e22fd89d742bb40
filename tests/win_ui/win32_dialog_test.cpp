// The Win32 window under a real window system (wine with a virtual display in CI): the dialog
// made from the control table, driven through window messages as the operator's clicks and
// choices arrive, and read back through the controls themselves.
#include <gtest/gtest.h>

// clang-format off
#include <windows.h>
#include <dbt.h>  // after windows.h, whose types it uses
// clang-format on

#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "caption_bar_win32.h"
#include "config/settings.h"
#include "dialog_template.h"
#include "dialog_template_win32.h"
#include "jobs/status.h"
#include "link/image_table.h"
#include "main_dlg_win32.h"
#include "scripted_dialogs.h"
#include "ui_dialogs_win32.h"
#include "window_test_support.h"

using window_test::StationFolder;
using window_test::WriteAll;

namespace {

class Win32DialogTest : public ::testing::Test {
protected:
    std::unique_ptr<Win32MainDlg> Start(const std::string& settings = std::string()) {
        if (!settings.empty()) WriteAll(folder_ / "pelorw.ini", settings);
        auto dlg = std::make_unique<Win32MainDlg>(&dialogs_);
        dlg->SetExitHandler([](int) { ADD_FAILURE() << "the process would have ended"; });
        EXPECT_TRUE(dlg->Create(GetModuleHandleA(nullptr)));
        ShowWindow(dlg->Handle(), SW_SHOW);
        UpdateWindow(dlg->Handle());
        dlg->PumpEvents(std::chrono::milliseconds(20));
        return dlg;
    }

    static std::string WindowText(HWND hwnd) {
        char text[512] = {};
        GetWindowTextA(hwnd, text, sizeof text);
        return text;
    }
    static std::string ClassOf(HWND hwnd) {
        char name[64] = {};
        GetClassNameA(hwnd, name, sizeof name);
        return name;
    }
    // The operator clicks a button: the message a mouse click ends in.
    static void Click(Win32MainDlg& dlg, int id) { SendMessageA(dlg.Item(id), BM_CLICK, 0, 0); }
    // The operator chooses an entry of a drop-down list.
    static void Choose(Win32MainDlg& dlg, int id, int index) {
        SendMessageA(dlg.Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageA(dlg.Handle(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(dlg.Item(id)));
    }
    // The system's broadcast for a serial port arriving or removed.
    static void PortEvent(Win32MainDlg& dlg, const char* name, bool arrival) {
        // The name runs on past the structure's one declared character.
        const std::size_t offset = offsetof(DEV_BROADCAST_PORT_A, dbcp_name);
        std::vector<char> buffer(offset + std::strlen(name) + 1, '\0');
        std::memcpy(buffer.data() + offset, name, std::strlen(name) + 1);
        auto* port = reinterpret_cast<DEV_BROADCAST_PORT_A*>(buffer.data());
        port->dbcp_size = static_cast<DWORD>(buffer.size());
        port->dbcp_devicetype = DBT_DEVTYP_PORT;
        SendMessageA(dlg.Handle(), WM_DEVICECHANGE,
                     arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                     reinterpret_cast<LPARAM>(buffer.data()));
    }
    static int BarValue(Win32MainDlg& dlg, int id, UINT message) {
        return static_cast<int>(SendMessageA(dlg.Item(id), message, 0, 0));
    }

    StationFolder folder_;
    ScriptedDialogs dialogs_;
};

IMAGE_ENTRY Progress(int channel, int slot, int sent, int size) {
    IMAGE_ENTRY e;
    e.nChannel = channel;
    e.nSlot = slot;
    e.nSent = sent;
    e.nSize = size;
    return e;
}

}  // namespace

TEST_F(Win32DialogTest, TheDialogIsMadeFromTheControlTableInDialogUnits) {
    auto dlg = Start();
    EXPECT_EQ(WindowText(dlg->Handle()), "[M6275]U-Pelor v1.3");
    EXPECT_NE(SendMessageA(dlg->Handle(), WM_GETICON, ICON_BIG, 0), 0);
    for (const DialogControl& c : kMainDialogTemplate) {
        if (c.id == IDC_STATIC) continue;
        HWND item = dlg->Item(c.id);
        ASSERT_NE(item, nullptr) << c.id;
        const std::string cls = ClassOf(item);
        switch (UI_Win32ControlAtom(c.kind)) {
            case 0x0080:
                EXPECT_STREQ(cls.c_str(), "Button") << c.id;
                break;
            case 0x0081:
                EXPECT_STREQ(cls.c_str(), "Edit") << c.id;
                break;
            case 0x0082:
                EXPECT_STREQ(cls.c_str(), "Static") << c.id;
                break;
            case 0x0085:
                EXPECT_STREQ(cls.c_str(), "ComboBox") << c.id;
                break;
            default:
                EXPECT_EQ(cls, kCaptionBarClass) << c.id;
                break;
        }
        EXPECT_EQ(dlg->Shown(c.id), c.visible) << c.id;
        // Where the system put it is where the template says, in dialog units (the system maps
        // the position and the size each on its own).
        RECT expected{c.x, c.y, c.cx, c.cy};
        MapDialogRect(dlg->Handle(), &expected);
        expected.right += expected.left;
        expected.bottom += expected.top;
        RECT actual;
        GetWindowRect(item, &actual);
        MapWindowPoints(nullptr, dlg->Handle(), reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left) << c.id;
        EXPECT_EQ(actual.top, expected.top) << c.id;
        EXPECT_EQ(actual.right - actual.left, expected.right - expected.left) << c.id;
        if (c.kind != ControlKind::DropDownList) {
            EXPECT_EQ(actual.bottom - actual.top, expected.bottom - expected.top) << c.id;
        }
    }
    EXPECT_EQ(WindowText(dlg->Item(IDC_DOWNLOAD)), "Download");
    EXPECT_EQ(SendMessageA(dlg->Item(kPortSelectorIds[0]), CB_GETCOUNT, 0, 0), 31);
}

TEST_F(Win32DialogTest, ClicksReachTheirHandlersAndTheControlsShowTheResult) {
    auto dlg = Start();
    ASSERT_FALSE(IsWindowEnabled(dlg->Item(IDC_RESOURCE_BAR)));
    Click(*dlg, IDC_RESOURCE_CHECK);
    EXPECT_EQ(IsDlgButtonChecked(dlg->Handle(), IDC_RESOURCE_CHECK), BST_CHECKED);
    EXPECT_TRUE(IsWindowEnabled(dlg->Item(IDC_RESOURCE_BAR)));
    EXPECT_EQ(g_bEtc2Check, 1);

    dialogs_.answers = {true};
    Click(*dlg, IDC_CHANGE_BOOT_AREA);
    EXPECT_EQ(dialogs_.questions, std::vector<std::string>{"Change Boot Loader?"});
    EXPECT_EQ(WindowText(dlg->Item(IDC_CODE_ADDRESS)), "0");
    // No: the box goes back.
    Click(*dlg, IDC_CHANGE_BOOT_AREA);
    EXPECT_EQ(WindowText(dlg->Item(IDC_CODE_ADDRESS)), "70000");

    // Download with nothing that can be written: the notice, no run.
    Click(*dlg, IDC_AUTO);  // Auto off: the saved ports (none); Download enabled
    ASSERT_TRUE(IsWindowEnabled(dlg->Item(IDC_DOWNLOAD)));
    Click(*dlg, IDC_DOWNLOAD);
    ASSERT_EQ(dialogs_.notices.size(), 1u);
    EXPECT_EQ(dlg->Running(), 0);
}

TEST_F(Win32DialogTest, ASelectorChoiceGivesTheChannelItsPortUnlessAnotherHasIt) {
    auto dlg = Start("[PELOR]\nAUTODETECT=0\nCH5_PORT=6\n");
    Choose(*dlg, kPortSelectorIds[2], 7);
    EXPECT_EQ(dlg->Port(2), 7);
    EXPECT_EQ(WindowText(dlg->Item(kPortSelectorIds[2])), "COM7");
    Choose(*dlg, kPortSelectorIds[2], 6);  // channel 5's
    EXPECT_EQ(dlg->Port(2), 0);
    EXPECT_EQ(SendMessageA(dlg->Item(kPortSelectorIds[2]), CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(WindowText(dlg->Item(kPortSelectorIds[2])), "-----------");
}

TEST_F(Win32DialogTest, PortsArrivingAndLeavingThroughTheDeviceBroadcast) {
    auto dlg = Start();
    ASSERT_EQ(IsDlgButtonChecked(dlg->Handle(), IDC_AUTO), BST_CHECKED);
    PortEvent(*dlg, "COM7", true);
    PortEvent(*dlg, "COM12", true);
    EXPECT_EQ(dlg->Port(0), 7);
    EXPECT_EQ(dlg->Port(1), 12);
    EXPECT_EQ(WindowText(dlg->Item(kPortSelectorIds[1])), "COM12");
    EXPECT_FALSE(IsWindowEnabled(dlg->Item(kPortSelectorIds[1])));
    EXPECT_EQ(WindowText(dlg->Item(kChannelBarIds[1])), "Ready...");
    EXPECT_EQ(WindowText(dlg->Item(IDC_STATUS_LINE)), "Detect COM12 Port");
    EXPECT_TRUE(IsWindowEnabled(dlg->Item(IDC_DOWNLOAD)));

    PortEvent(*dlg, "COM7", false);
    EXPECT_EQ(dlg->Port(0), 0);
    EXPECT_TRUE(IsWindowEnabled(dlg->Item(kPortSelectorIds[0])));
    EXPECT_EQ(WindowText(dlg->Item(kChannelBarIds[0])), "");
    EXPECT_EQ(WindowText(dlg->Item(IDC_STATUS_LINE)), "Disconnect COM7 Port");
    // Other devices' broadcasts change nothing.
    DEV_BROADCAST_HDR volume{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};
    SendMessageA(dlg->Handle(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                 reinterpret_cast<LPARAM>(&volume));
    EXPECT_EQ(WindowText(dlg->Item(IDC_STATUS_LINE)), "Disconnect COM7 Port");
}

TEST_F(Win32DialogTest, TheCaptionedBarPaintsItsTwoPartsAndRepaintsOnlyWhenTheWidthChanges) {
    auto dlg = Start();
    const int id = kChannelBarIds[3];
    HWND bar = dlg->Item(id);
    IMAGE_ENTRY half = Progress(3, 12, 500, 1000);
    dlg->OnDownloadStatus(STATUS_PROGRESS, &half);
    EXPECT_EQ(WindowText(bar), "AMSS: 50% [500/1000]");
    EXPECT_EQ(BarValue(*dlg, id, CBM_GETUPPER), 1000);
    EXPECT_EQ(BarValue(*dlg, id, CBM_GETPOS), 500);
    RECT r;
    GetClientRect(bar, &r);
    const int inner = r.right - r.left - 2;
    EXPECT_EQ(BarValue(*dlg, id, CBM_GETBARWIDTH), inner / 2);

    // One more byte does not move the edge: no paint.
    const int paints = BarValue(*dlg, id, CBM_GETPAINTCOUNT);
    SendMessageA(bar, CBM_SETPOS, 501, 0);
    EXPECT_EQ(BarValue(*dlg, id, CBM_GETPAINTCOUNT), paints);
    SendMessageA(bar, CBM_SETPOS, 900, 0);
    EXPECT_EQ(BarValue(*dlg, id, CBM_GETPAINTCOUNT), paints + 1);

    // What is on the screen: the filled part in the highlight colour, the rest in the window's.
    HDC dc = GetDC(bar);
    const COLORREF left = GetPixel(dc, 2, r.bottom - 2);
    const COLORREF right = GetPixel(dc, r.right - 3, r.bottom - 2);
    ReleaseDC(bar, dc);
    EXPECT_EQ(left, GetSysColor(COLOR_HIGHLIGHT));
    EXPECT_EQ(right, GetSysColor(COLOR_WINDOW));
    EXPECT_EQ(CaptionBar_FilledWidth(0, 0, 5, 100), 0);
    EXPECT_EQ(CaptionBar_FilledWidth(0, 3, 1, 200), 66);
    EXPECT_EQ(CaptionBar_FilledWidth(0, 10, 11, 200), 200);
}

TEST_F(Win32DialogTest, AWorkersMessageIsShownThroughTheWindowsOwnThread) {
    auto dlg = Start();
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        IMAGE_ENTRY text{};
        text.nChannel = 4;
        std::strcpy(text.szPath, "Init AMSS");
        dlg->OnStatusMessage(WM_DOWNLOAD_STATUS, STATUS_CHANNEL_TEXT, &text);
        returned = true;
    });
    for (int i = 0; i < 400 && !returned; ++i) dlg->PumpEvents(std::chrono::milliseconds(5));
    worker.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(WindowText(dlg->Item(kChannelBarIds[4])), "Init AMSS");
}

TEST_F(Win32DialogTest, AddressEditsFilterWhatIsTyped) {
    auto dlg = Start();
    dialogs_.answers = {};
    Click(*dlg, IDC_RESOURCE_CHECK);
    HWND hex = dlg->Item(IDC_RESOURCE_ADDRESS);
    SetWindowTextA(hex, "");
    for (char c : std::string("1g2a-b3c4d5e")) SendMessageA(hex, WM_CHAR, c, 0);
    EXPECT_EQ(WindowText(hex), "12AB3C4D");  // upper case, nothing but hex digits, 8 at most
    SendMessageA(hex, WM_CHAR, VK_BACK, 0);
    EXPECT_EQ(WindowText(hex), "12AB3C4");
    HWND code = dlg->Item(IDC_CODE_ADDRESS);
    SendMessageA(code, WM_CHAR, '5', 0);
    SendMessageA(code, WM_CHAR, VK_BACK, 0);
    EXPECT_EQ(WindowText(code), "70000");
}

TEST(Win32FilterTest, PairsBecomeTheFileDialogsDoubleNulList) {
    static constexpr char kJob[] = "Pelor Files(*.plr)\0*.plr\0";  // and the array's own NUL
    EXPECT_EQ(UI_Win32Filter("Pelor Files(*.plr)|*.plr||"), std::string(kJob, sizeof kJob));
    static constexpr char kTwo[] = "A\0*.a\0B\0*.b;*.c\0";
    EXPECT_EQ(UI_Win32Filter("A|*.a|B|*.b;*.c||"), std::string(kTwo, sizeof kTwo));
    EXPECT_EQ(UI_Win32Filter(""), std::string("\0", 1));
}
