#pragma once
// The operator's window drawn natively with Win32: the dialog created from template 103 as an
// in-memory template (CreateDialogIndirectParam), the common controls, the captioned progress
// bars as a custom control (caption_bar_win32.h), the device-change broadcast for arrivals and
// removals, MessageBoxA and the shell's pickers. A WindowHost for the window's logic, which it
// also is. No MFC: plain Win32, so mingw-w64 builds it.
#include <windows.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "main_dlg.h"
#include "ui_dialogs_win32.h"
#include "window_host.h"

// Window messages of the dialog besides the system's.
enum : UINT {
    // Sent by a worker's thread: lParam is a RunCall to run on the window's thread.
    WM_APP_RUN = WM_APP + 1,
};

class Win32MainDlg : public WindowHost, public CMainDlg {
public:
    // dialogs: the message boxes and pickers to use; null = the real Win32 ones.
    explicit Win32MainDlg(UiDialogs* dialogs = nullptr);
    ~Win32MainDlg() override;
    Win32MainDlg(const Win32MainDlg&) = delete;
    Win32MainDlg& operator=(const Win32MainDlg&) = delete;

    // Creates the dialog (hidden) and initialises it; false when it could not be created.
    bool Create(HINSTANCE instance);
    HWND Handle() const { return hwnd_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    // Shows the dialog and runs its message loop until it is closed; the process's exit code
    // (1, as the window has always ended).
    int Run();

    // --- WindowHost ------------------------------------------------------------------------
    std::string Text(int id) const override;
    void SetText(int id, const std::string& text) override;
    bool Checked(int id) const override;
    void SetChecked(int id, bool checked) override;
    bool Enabled(int id) const override;
    void Enable(int id, bool enabled) override;
    bool Shown(int id) const override;
    void Show(int id, bool shown) override;
    void SetTip(int id, const std::string& tip) override;
    void SetItems(int id, const std::vector<ListItem>& items) override;
    int Selection(int id) const override;
    void Select(int id, int index) override;
    void SetBarRange(int id, int lower, int upper) override;
    void SetBarPos(int id, int pos) override;
    void SetCaption(const std::string& caption) override;
    UiDialogs& Dialogs() override { return *dialogs_; }
    bool OnWindowThread() const override;
    bool RunOnWindowThread(const std::function<void()>& task) override;
    void PumpEvents(std::chrono::milliseconds bound) override;

private:
    struct RunCall {
        const std::function<void()>* task;
        bool ran = false;
    };
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnDeviceChange(WPARAM event, LPARAM data);
    // Handles one queued message; false for WM_QUIT (put back for the outer loop).
    bool DispatchOne(MSG& msg);
    void Close();

    std::unique_ptr<Win32UiDialogs> ownDialogs_;
    UiDialogs* dialogs_ = nullptr;
    HWND hwnd_ = nullptr;
    HWND tips_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HDEVNOTIFY deviceNotify_ = nullptr;
    DWORD windowThread_ = 0;
    std::map<int, std::string> tipTexts_;
};
