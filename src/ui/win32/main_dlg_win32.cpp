#include "main_dlg_win32.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>

#include "address_edits_win32.h"
#include "caption_bar_win32.h"
#include "dialog_template.h"
#include "dialog_template_win32.h"
#include "jobs/station.h"
#include "station_resources.h"

namespace {

// The serial ports' device interface class (GUID_DEVINTERFACE_COMPORT).
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

}  // namespace

Win32MainDlg::Win32MainDlg(UiDialogs* dialogs) : CMainDlg(static_cast<WindowHost&>(*this)) {
    if (dialogs == nullptr) {
        ownDialogs_ = std::make_unique<Win32UiDialogs>();
        dialogs = ownDialogs_.get();
    }
    dialogs_ = dialogs;
}

Win32MainDlg::~Win32MainDlg() {
    NotifyTarget* self = static_cast<CMainDlg*>(this);
    STATION_Current().notifyTarget.compare_exchange_strong(self, nullptr);
    Close();
    if (icon_ != nullptr) DestroyIcon(icon_);
    if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

void Win32MainDlg::Close() {
    if (deviceNotify_ != nullptr) {
        UnregisterDeviceNotification(deviceNotify_);
        deviceNotify_ = nullptr;
    }
    if (hwnd_ != nullptr) {
        HWND hwnd = hwnd_;
        hwnd_ = nullptr;
        DestroyWindow(hwnd);
    }
}

bool Win32MainDlg::Create(HINSTANCE instance) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    if (!CaptionBar_Register(instance)) return false;
    windowThread_ = GetCurrentThreadId();
    const std::vector<DWORD> dialogTemplate = UI_BuildWin32DialogTemplate();
    hwnd_ = CreateDialogIndirectParamA(instance,
                                       reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()),
                                       nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
    if (hwnd_ == nullptr) return false;
    if (ownDialogs_) ownDialogs_->SetOwner(hwnd_);
    for (const DialogControl& c : kMainDialogTemplate) {
        if (c.kind == ControlKind::HexEdit) UI_MakeHexEdit(Item(c.id));
        if (c.kind == ControlKind::NoTypeEdit) UI_MakeNoTypeEdit(Item(c.id));
    }
    // The application's icon, from the program's resources.
    icon_ =
        static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_STATION), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    smallIcon_ = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_STATION), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
    if (icon_ != nullptr)
        SendMessageA(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    if (smallIcon_ != nullptr) {
        SendMessageA(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    }
    tips_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance,
                            nullptr);
    // Serial ports arriving and leaving; the ports' own broadcast reaches every top-level
    // window, the registration adds the device interface's.
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kComPortInterface;
    deviceNotify_ = RegisterDeviceNotificationA(hwnd_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    OnInitDialog();
    return true;
}

int Win32MainDlg::Run() {
    if (hwnd_ == nullptr) return 1;
    ShowWindow(hwnd_, SW_SHOW);
    MSG msg;
    while (hwnd_ != nullptr && GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!DispatchOne(msg)) break;
    }
    return 1;
}

bool Win32MainDlg::DispatchOne(MSG& msg) {
    if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    // During a run the window does no dialog keyboard handling: Escape does not close it.
    const bool key = msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST;
    if (hwnd_ != nullptr && (!key || DialogKeysEnabled()) && IsDialogMessageA(hwnd_, &msg)) {
        return true;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

INT_PTR CALLBACK Win32MainDlg::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        return TRUE;
    }
    auto* self = reinterpret_cast<Win32MainDlg*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self == nullptr || self->hwnd_ != hwnd) return FALSE;
    return self->HandleMessage(message, wParam, lParam);
}

INT_PTR Win32MainDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (id == IDCANCEL && code == BN_CLICKED) {
                // Escape (or the close box through the dialog manager).
                if (DialogKeysEnabled() && OnClose()) {
                    Close();
                    PostQuitMessage(1);
                }
                return TRUE;
            }
            if (code == kCaptionBarDoubleClicked) {
                // A channel's bar: acknowledges its socket's suspect flag.
                for (int ch = 0; ch < kChannels; ++ch) {
                    if (kChannelBarIds[ch] == id) return OnAcknowledgeSuspect(ch) ? TRUE : FALSE;
                }
            }
            if (code == BN_CLICKED) return OnCommand(id) ? TRUE : FALSE;
            if (code == CBN_SELCHANGE) return OnSelectionChange(id) ? TRUE : FALSE;
            return FALSE;
        }
        case WM_CLOSE:
            if (OnClose()) {
                Close();
                PostQuitMessage(1);
            }
            return TRUE;
        case WM_QUERYENDSESSION:
            // The session may end: a run's jobs go on record when it does (WM_ENDSESSION).
            SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_ENDSESSION:
            // The user logs out or the system shuts down: the process ends after this returns.
            // During a run the jobs are stopped and put on record first, as on closing.
            if (wParam != FALSE && OnEndSession()) {
                Close();
                PostQuitMessage(1);
            }
            return TRUE;
        case WM_DEVICECHANGE:
            OnDeviceChange(wParam, lParam);
            SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_APP_RUN: {
            auto* call = reinterpret_cast<RunCall*>(lParam);
            (*call->task)();
            call->ran = true;
            return TRUE;
        }
        default:
            return FALSE;
    }
}

void Win32MainDlg::OnDeviceChange(WPARAM event, LPARAM data) {
    if ((event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) || data == 0) return;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header->dbch_devicetype != DBT_DEVTYP_PORT) return;
    // An ANSI window: the port's name comes as ANSI characters ("COM7").
    const auto* port = reinterpret_cast<const DEV_BROADCAST_PORT_A*>(header);
    const int number = UI_PortNumberFromName(port->dbcp_name);
    if (event == DBT_DEVICEARRIVAL) {
        OnDeviceArrival(number);
    } else {
        OnDeviceRemoval(number);
    }
}

// --- WindowHost -------------------------------------------------------------------------------

std::string Win32MainDlg::Text(int id) const {
    HWND item = Item(id);
    if (item == nullptr) return {};
    const int n = GetWindowTextLengthA(item);
    std::string text(static_cast<std::size_t>(n) + 1, '\0');
    const int got = GetWindowTextA(item, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(std::max(0, got)));
    return text;
}

void Win32MainDlg::SetText(int id, const std::string& text) {
    if (HWND item = Item(id)) SetWindowTextA(item, text.c_str());
}

bool Win32MainDlg::Checked(int id) const {
    return Item(id) != nullptr && IsDlgButtonChecked(hwnd_, id) == BST_CHECKED;
}

void Win32MainDlg::SetChecked(int id, bool checked) {
    if (Item(id) != nullptr) CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

bool Win32MainDlg::Enabled(int id) const {
    HWND item = Item(id);
    return item != nullptr && IsWindowEnabled(item);
}

void Win32MainDlg::Enable(int id, bool enabled) {
    if (HWND item = Item(id)) EnableWindow(item, enabled ? TRUE : FALSE);
}

bool Win32MainDlg::Shown(int id) const {
    HWND item = Item(id);
    return item != nullptr && (GetWindowLongA(item, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Win32MainDlg::Show(int id, bool shown) {
    if (HWND item = Item(id)) ShowWindow(item, shown ? SW_SHOW : SW_HIDE);
}

void Win32MainDlg::SetTip(int id, const std::string& tip) {
    HWND item = Item(id);
    if (item == nullptr || tips_ == nullptr) return;
    TOOLINFOA info{};
    info.cbSize = sizeof info;
    info.hwnd = hwnd_;
    info.uId = reinterpret_cast<UINT_PTR>(item);
    SendMessageA(tips_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&info));
    tipTexts_[id] = tip;
    if (tip.empty()) return;
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    info.lpszText = tipTexts_[id].data();
    SendMessageA(tips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

void Win32MainDlg::SetItems(int id, const std::vector<ListItem>& items) {
    HWND list = Item(id);
    if (list == nullptr) return;
    const LRESULT selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    // The closed list may cut a long entry; the opened list shows every entry whole.
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (const ListItem& item : items) {
        SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.text.c_str()));
        SIZE size{};
        GetTextExtentPoint32A(dc, item.text.c_str(), static_cast<int>(item.text.size()), &size);
        widest = std::max(widest, static_cast<int>(size.cx));
    }
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    SendMessageA(list, CB_SETDROPPEDWIDTH,
                 static_cast<WPARAM>(widest + GetSystemMetrics(SM_CXVSCROLL) + 8), 0);
    if (selected != CB_ERR && selected < static_cast<LRESULT>(items.size())) {
        SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    }
}

int Win32MainDlg::Selection(int id) const {
    HWND list = Item(id);
    if (list == nullptr) return -1;
    const LRESULT index = SendMessageA(list, CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? -1 : static_cast<int>(index);
}

void Win32MainDlg::Select(int id, int index) {
    // -1 (or an index without an entry) selects nothing.
    if (HWND list = Item(id)) SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Win32MainDlg::SetBarRange(int id, int lower, int upper) {
    if (HWND bar = Item(id)) {
        SendMessageA(bar, CBM_SETRANGE, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
    }
}

void Win32MainDlg::SetBarPos(int id, int pos) {
    if (HWND bar = Item(id)) SendMessageA(bar, CBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void Win32MainDlg::SetCaption(const std::string& caption) {
    if (hwnd_ != nullptr) SetWindowTextA(hwnd_, caption.c_str());
}

bool Win32MainDlg::OnWindowThread() const {
    return GetCurrentThreadId() == windowThread_;
}

bool Win32MainDlg::RunOnWindowThread(const std::function<void()>& task) {
    HWND hwnd = hwnd_;
    if (hwnd == nullptr || !IsWindow(hwnd)) return false;
    // A message sent from another thread is handled by the window's thread the next time it
    // looks at its messages (its message loop, the runner's pump, an open message box); the
    // sender waits meanwhile.
    RunCall call{&task};
    SendMessageA(hwnd, WM_APP_RUN, 0, reinterpret_cast<LPARAM>(&call));
    return call.ran;
}

void Win32MainDlg::PumpEvents(std::chrono::milliseconds bound) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(bound.count());
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!DispatchOne(msg)) return;
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return;
        // Sleeps until a message (sent ones included) arrives or the bound passes.
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(end - now), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}
