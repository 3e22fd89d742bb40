#pragma once
// The window's message boxes and file and folder pickers, behind one small interface: the real
// dialogs of the window's toolkit in the program (qt_ui_dialogs.h, win32/win_ui_dialogs.h),
// scripted answers in the tests. Every box carries the application's name as its caption.
#include <string>

class UiDialogs {
public:
    virtual ~UiDialogs() = default;
    // A notice with an OK button; returns when the operator has dismissed it.
    virtual void Notice(const std::string& text) = 0;
    // A question with Yes and No; true only for Yes.
    virtual bool Confirm(const std::string& text) = 0;
    // An existing file, or empty when cancelled. filter is "Text(*.ext)|*.ext||".
    virtual std::string OpenFile(const std::string& filter, const std::string& defExt) = 0;
    // A file to write (a new name may be typed), or empty when cancelled. Asks nothing about
    // an existing file: the caller does.
    virtual std::string SaveFile(const std::string& filter, const std::string& defExt) = 0;
    // A folder, or empty when cancelled. start: the folder (or a file in it) to open at.
    virtual std::string BrowseFolder(const std::string& title, const std::string& start) = 0;
};
