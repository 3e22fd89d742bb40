#pragma once
// The window's logic on an in-memory host: every control of template 103 is a record that the
// logic's calls change and the tests read, with a few names borrowed from the widgets (click,
// currentIndex, GetWindowText) so that a test reads as it would against a real window. The
// window's thread is the thread that made the host; workers' hand-overs wait in a queue until
// that thread pumps.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dialog_template.h"
#include "main_dlg.h"
#include "scripted_dialogs.h"
#include "window_host.h"

class MemoryDlg;

// One control: what the window shows in it.
struct MemoryControl {
    int id = 0;
    ControlKind kind = ControlKind::StaticText;
    std::string text;
    std::string tip;
    bool checked = false;
    bool enabled = true;
    bool shown = true;
    std::vector<ListItem> items;
    int selection = -1;
    int lower = 0, upper = 100, pos = 0;
    int positionsSet = 0;  // SetBarPos calls
    MemoryDlg* owner = nullptr;

    // The operator clicks it: a check box flips, a radio button goes on (its group's others
    // off), then the click's handler runs.
    void click();
    // The operator chooses entry index of a drop-down list.
    void activate(int index);
    void clear() { text.clear(); }
    void setEnabled(bool on) { enabled = on; }

    bool isEnabled() const { return enabled; }
    bool isVisible() const { return shown; }
    bool isChecked() const { return checked; }
    const std::string& GetWindowText() const { return text; }
    const std::string& toolTip() const { return tip; }
    int Lower() const { return lower; }
    int Upper() const { return upper; }
    int Pos() const { return pos; }
    int count() const { return static_cast<int>(items.size()); }
    int currentIndex() const { return selection; }
    std::string itemText(int i) const;
    std::string itemTip(int i) const;
    std::string currentText() const { return itemText(selection); }
};

class MemoryDlg : public WindowHost, public CMainDlg {
public:
    // dialogs: the scripted boxes; the dialog is initialised (settings loaded) at once.
    explicit MemoryDlg(UiDialogs& dialogs);
    ~MemoryDlg() override;

    // Null for an id the template does not have.
    MemoryControl* Control(int id);
    const MemoryControl* Control(int id) const;
    MemoryControl* Button(int id) { return Control(id); }
    MemoryControl* Bar(int id) { return Control(id); }
    MemoryControl* ChannelBar(int channel) { return Control(kChannelBarIds.at(channel)); }
    MemoryControl* PortSelector(int channel) { return Control(kPortSelectorIds.at(channel)); }
    const std::string& Caption() const { return caption_; }
    // Channel bars shown by status messages, in order; Download starts seen.
    const std::vector<int>& BarsShown() const { return barsShown_; }
    int DownloadStarts() const { return downloadStarts_; }
    // The window is gone: hand-overs are refused from now on (waiting ones return).
    void CloseWindow();
    // Handles the queued hand-overs until done() holds or the bound passes; true when it held.
    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds bound = std::chrono::seconds(20));
    // Hand-overs waiting for the window's thread now.
    std::size_t Waiting() const;
    // What the operator does while a run pumps the window's events: called once per pump, on
    // the window's thread (null: nothing).
    void SetDuringPump(std::function<void()> step) { duringPump_ = std::move(step); }

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
    void SetCaption(const std::string& caption) override { caption_ = caption; }
    UiDialogs& Dialogs() override { return dialogs_; }
    bool OnWindowThread() const override;
    bool RunOnWindowThread(const std::function<void()>& task) override;
    void PumpEvents(std::chrono::milliseconds bound) override;
    void ChannelBarShown(int channel) override { barsShown_.push_back(channel); }
    void DownloadStarted() override { ++downloadStarts_; }

private:
    struct Task {
        const std::function<void()>* run;
        bool done = false;  // guarded by mutex_
    };
    // Runs the queued tasks one at a time (a task may pump again).
    void RunQueued();

    UiDialogs& dialogs_;
    std::map<int, MemoryControl> controls_;
    std::string caption_;
    std::vector<int> barsShown_;
    int downloadStarts_ = 0;
    std::function<void()> duringPump_;
    const std::thread::id windowThread_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task*> queue_;  // guarded by mutex_
    bool closed_ = false;      // guarded by mutex_
};
