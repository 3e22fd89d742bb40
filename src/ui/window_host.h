#pragma once
// What the window's logic (CMainDlg) needs of the toolkit that draws it, by control ID as the
// dialog template names the controls. The Qt window, the native Win32 window and the tests'
// in-memory window each implement it; the logic includes no toolkit header.
//
// Every call but RunOnWindowThread is made on the window's thread.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

class UiDialogs;

// One entry of a drop-down list: its text and the tip shown for it (may be empty).
struct ListItem {
    std::string text;
    std::string tip;
};

class WindowHost {
public:
    virtual ~WindowHost() = default;

    // --- Any control ------------------------------------------------------------------------
    // A control's text: an edit's contents, a label's or button's caption, a captioned bar's
    // caption. Unknown ids read as empty and ignore what is set.
    virtual std::string Text(int id) const = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    // Check boxes and radio buttons. Setting a check runs no handler.
    virtual bool Checked(int id) const = 0;
    virtual void SetChecked(int id, bool checked) = 0;
    virtual bool Enabled(int id) const = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual bool Shown(int id) const = 0;
    virtual void Show(int id, bool shown) = 0;
    // The control's tip (a port selector's device); empty = none.
    virtual void SetTip(int id, const std::string& tip) = 0;

    // --- Drop-down lists --------------------------------------------------------------------
    // Replaces the entries; the selected index stays when it still exists. The host may widen
    // the opened list so that every entry shows whole.
    virtual void SetItems(int id, const std::vector<ListItem>& items) = 0;
    // The selected index, -1 for none. Selecting runs no handler.
    virtual int Selection(int id) const = 0;
    virtual void Select(int id, int index) = 0;

    // --- Captioned progress bars (the caption is the bar's Text) ----------------------------
    // Stores the bounds; no repaint.
    virtual void SetBarRange(int id, int lower, int upper) = 0;
    // Stores the position; the bar shows it before this returns when its filled width changes.
    virtual void SetBarPos(int id, int pos) = 0;

    // --- The window -------------------------------------------------------------------------
    virtual void SetCaption(const std::string& caption) = 0;
    // Message boxes and pickers, with the application's name as their caption.
    virtual UiDialogs& Dialogs() = 0;

    // --- Threads ----------------------------------------------------------------------------
    // True on the thread that runs the window.
    virtual bool OnWindowThread() const = 0;
    // From another thread: has the window's thread run task and returns after it has (the
    // window keeps handling its events meanwhile). False when the window cannot take it (it is
    // gone); task has then not run.
    virtual bool RunOnWindowThread(const std::function<void()>& task) = 0;
    // The runner's pump: handles the window's events for up to bound, sleeping while there
    // are none.
    virtual void PumpEvents(std::chrono::milliseconds bound) = 0;

    // --- What the logic tells the host (observers: the simulated session, tests) -------------
    // A status message changed channel's bar (caption, range and position already set).
    virtual void ChannelBarShown(int /*channel*/) {}
    // Download has started the channels.
    virtual void DownloadStarted() {}
};
