#pragma once
// The Win32 message boxes and pickers of the Win32 window: MessageBoxA with the application's
// name as caption, the common open and save dialogs, and the shell's folder browser opening at
// the folder it is given.
#include <windows.h>

#include <string>

#include "ui_dialogs.h"

inline constexpr const char* kWin32AppName = "pelor-station";

class Win32UiDialogs : public UiDialogs {
public:
    explicit Win32UiDialogs(HWND owner = nullptr) : owner_(owner) {}
    void SetOwner(HWND owner) { owner_ = owner; }

    void Notice(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    std::string OpenFile(const std::string& filter, const std::string& defExt) override;
    std::string SaveFile(const std::string& filter, const std::string& defExt) override;
    std::string BrowseFolder(const std::string& title, const std::string& start) override;

private:
    HWND owner_;
};

// "Pelor Files(*.plr)|*.plr||" -> "Pelor Files(*.plr)\0*.plr\0\0", as the file dialogs take it.
std::string UI_Win32Filter(const std::string& filter);
// Where a browse of start opens: start itself when it is a folder, the folder of a file.
std::string UI_Win32BrowseStart(const std::string& start);
