#include "memory_host.h"

#include <algorithm>

std::string MemoryControl::itemText(int i) const {
    return i >= 0 && i < count() ? items[static_cast<std::size_t>(i)].text : std::string();
}

std::string MemoryControl::itemTip(int i) const {
    return i >= 0 && i < count() ? items[static_cast<std::size_t>(i)].tip : std::string();
}

void MemoryControl::click() {
    if (!enabled) return;  // as a disabled button ignores a click
    if (kind == ControlKind::CheckBox) checked = !checked;
    if (kind == ControlKind::RadioButton) {
        for (int other : {IDC_ERASE_NONE, IDC_ERASE_ALL, IDC_ERASE_EXCEPT_BACKUP}) {
            owner->SetChecked(other, false);
        }
        checked = true;
    }
    owner->OnCommand(id);
}

void MemoryControl::activate(int index) {
    if (!enabled) return;
    selection = index;
    owner->OnSelectionChange(id);
}

MemoryDlg::MemoryDlg(UiDialogs& dialogs)
    : CMainDlg(static_cast<WindowHost&>(*this)),
      dialogs_(dialogs),
      windowThread_(std::this_thread::get_id()) {
    for (const DialogControl& c : kMainDialogTemplate) {
        if (c.id == IDC_STATIC) continue;
        MemoryControl& m = controls_[c.id];
        m.id = c.id;
        m.kind = c.kind;
        if (c.kind != ControlKind::ProgressBar && c.kind != ControlKind::Edit &&
            c.kind != ControlKind::HexEdit && c.kind != ControlKind::NoTypeEdit) {
            m.text = c.caption;
        }
        m.enabled = c.enabled;
        m.shown = c.visible;
        m.owner = this;
    }
    OnInitDialog();
}

MemoryDlg::~MemoryDlg() {
    CloseWindow();
}

MemoryControl* MemoryDlg::Control(int id) {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

const MemoryControl* MemoryDlg::Control(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : &it->second;
}

std::string MemoryDlg::Text(int id) const {
    const MemoryControl* c = Control(id);
    return c != nullptr ? c->text : std::string();
}

void MemoryDlg::SetText(int id, const std::string& text) {
    if (MemoryControl* c = Control(id)) c->text = text;
}

bool MemoryDlg::Checked(int id) const {
    const MemoryControl* c = Control(id);
    return c != nullptr && c->checked;
}

void MemoryDlg::SetChecked(int id, bool checked) {
    MemoryControl* c = Control(id);
    if (c != nullptr && (c->kind == ControlKind::CheckBox || c->kind == ControlKind::RadioButton)) {
        c->checked = checked;
    }
}

bool MemoryDlg::Enabled(int id) const {
    const MemoryControl* c = Control(id);
    return c != nullptr && c->enabled;
}

void MemoryDlg::Enable(int id, bool enabled) {
    if (MemoryControl* c = Control(id)) c->enabled = enabled;
}

bool MemoryDlg::Shown(int id) const {
    const MemoryControl* c = Control(id);
    return c != nullptr && c->shown;
}

void MemoryDlg::Show(int id, bool shown) {
    if (MemoryControl* c = Control(id)) c->shown = shown;
}

void MemoryDlg::SetTip(int id, const std::string& tip) {
    if (MemoryControl* c = Control(id)) c->tip = tip;
}

void MemoryDlg::SetItems(int id, const std::vector<ListItem>& items) {
    MemoryControl* c = Control(id);
    if (c == nullptr || c->kind != ControlKind::DropDownList) return;
    c->items = items;
    if (c->selection >= c->count()) c->selection = -1;
}

int MemoryDlg::Selection(int id) const {
    const MemoryControl* c = Control(id);
    return c != nullptr ? c->selection : -1;
}

void MemoryDlg::Select(int id, int index) {
    MemoryControl* c = Control(id);
    if (c == nullptr) return;
    // As a drop-down list does: an index without an entry selects nothing.
    c->selection = index >= 0 && index < c->count() ? index : -1;
}

void MemoryDlg::SetBarRange(int id, int lower, int upper) {
    MemoryControl* c = Control(id);
    if (c == nullptr) return;
    c->lower = lower;
    c->upper = upper;
}

void MemoryDlg::SetBarPos(int id, int pos) {
    MemoryControl* c = Control(id);
    if (c == nullptr) return;
    c->pos = pos;
    ++c->positionsSet;
}

bool MemoryDlg::OnWindowThread() const {
    return std::this_thread::get_id() == windowThread_;
}

bool MemoryDlg::RunOnWindowThread(const std::function<void()>& task) {
    Task item{&task};
    std::unique_lock lock(mutex_);
    if (closed_) return false;
    queue_.push_back(&item);
    changed_.notify_all();
    changed_.wait(lock, [&] { return item.done || closed_; });
    if (item.done) return true;
    // Closed before the window's thread took it: it never runs.
    const auto queued = std::find(queue_.begin(), queue_.end(), &item);
    if (queued != queue_.end()) queue_.erase(queued);
    return false;
}

void MemoryDlg::RunQueued() {
    for (;;) {
        Task* item = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
            item = queue_.front();
            queue_.pop_front();
        }
        (*item->run)();
        {
            std::lock_guard lock(mutex_);
            item->done = true;
        }
        changed_.notify_all();
    }
}

void MemoryDlg::PumpEvents(std::chrono::milliseconds bound) {
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, bound, [this] { return !queue_.empty() || closed_; });
    }
    RunQueued();
    if (duringPump_) duringPump_();
}

bool MemoryDlg::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        PumpEvents(std::chrono::milliseconds(5));
    }
    return true;
}

std::size_t MemoryDlg::Waiting() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

void MemoryDlg::CloseWindow() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}
