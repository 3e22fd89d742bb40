#include "transport/device_watch.h"

#include <cstring>
#include <filesystem>

#include "transport/port_table.h"

#if defined(PELOR_HAVE_UDEV)
#include <libudev.h>
#endif

namespace fs = std::filesystem;

std::string DEVICE_ResolvedNode(const std::string& path) {
    std::error_code ec;
    const fs::path target = fs::canonical(path, ec);
    return ec ? std::string() : target.string();
}

#if defined(PELOR_HAVE_UDEV)
// The udev context and its monitor, released in that order's reverse.
struct DeviceWatch::Udev {
    struct ContextUnref {
        void operator()(udev* u) const { udev_unref(u); }
    };
    struct MonitorUnref {
        void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
    };
    struct DeviceUnref {
        void operator()(udev_device* d) const { udev_device_unref(d); }
    };
    std::unique_ptr<udev, ContextUnref> context;
    std::unique_ptr<udev_monitor, MonitorUnref> monitor;
};
#else
struct DeviceWatch::Udev {};
#endif

DeviceWatch::DeviceWatch(Options options, Sink sink)
    : options_(std::move(options)), sink_(std::move(sink)) {}

DeviceWatch::~DeviceWatch() {
    Stop();
}

void DeviceWatch::Stop() {
    udev_.reset();
    mode_ = Mode::None;
}

DeviceWatch::Mode DeviceWatch::Start() {
    Stop();
#if defined(_WIN32)
    return mode_;
#else
    // The monitor first, then the devices present: nothing arrives unseen in between.
    const bool udev = StartUdev();
    known_.clear();
    for (auto& [name, node] : Scan()) known_.emplace(std::move(name), std::move(node));
    lastScan_ = std::chrono::steady_clock::now();
    mode_ = udev ? Mode::Udev : Mode::Polling;
    return mode_;
#endif
}

int DeviceWatch::PollFd() const {
#if defined(PELOR_HAVE_UDEV)
    if (udev_) return udev_monitor_get_fd(udev_->monitor.get());
#endif
    return -1;
}

void DeviceWatch::Poll() {
    if (mode_ == Mode::Udev) {
        TakeUdevEvents();
    } else if (mode_ == Mode::Polling &&
               std::chrono::steady_clock::now() - lastScan_ >= options_.interval) {
        Rescan();
    }
}

std::vector<std::pair<std::string, std::string>> DeviceWatch::Scan() const {
    std::vector<std::pair<std::string, std::string>> found;
    for (const std::string& name : PORTTABLE_ScanDevicesIn(options_.devRoot)) {
        std::string node = DEVICE_ResolvedNode(name);
        if (!node.empty()) found.emplace_back(name, std::move(node));
    }
    return found;
}

void DeviceWatch::Report(bool arrived, const std::string& name, const std::string& node) {
    if (sink_) sink_(DeviceEvent{arrived, name, node});
}

void DeviceWatch::Rescan() {
    lastScan_ = std::chrono::steady_clock::now();
    const auto now = Scan();
    std::vector<std::pair<std::string, std::string>> removed, added;
    std::map<std::string, std::string> next;
    for (const auto& [name, node] : now) {
        if (known_.count(name) == 0) added.emplace_back(name, node);
        next.emplace(name, node);
    }
    for (const auto& entry : known_) {
        if (next.count(entry.first) == 0) removed.push_back(entry);
    }
    // The new state first: a handler that looks (or a nested event loop that scans again)
    // sees it.
    known_ = std::move(next);
    for (const auto& [name, node] : removed) Report(false, name, node);
    for (const auto& [name, node] : added) Report(true, name, node);
}

void DeviceWatch::NodeAdded(const std::string& node) {
    const std::string resolved = DEVICE_ResolvedNode(node);
    if (resolved.empty()) return;
    // The name a scan gives the node (its by-path link where there is one); a tty that a scan
    // does not list (a console, a pseudo-terminal) is not a serial device of the station's.
    for (const auto& [name, target] : Scan()) {
        if (target != resolved) continue;
        if (known_.emplace(name, target).second) Report(true, name, target);
        return;
    }
}

void DeviceWatch::NodeRemoved(const std::string& node) {
    // The node and its links are gone: the name is the one it was known by.
    std::vector<std::string> removed;
    for (auto it = known_.begin(); it != known_.end();) {
        if (it->second == node) {
            removed.push_back(it->first);
            it = known_.erase(it);
        } else {
            ++it;
        }
    }
    for (const std::string& name : removed) Report(false, name, node);
}

bool DeviceWatch::StartUdev() {
#if defined(PELOR_HAVE_UDEV)
    // udev's events name nodes under /dev; without a running udev the monitor would stay
    // silent, so the polling watch takes over.
    std::error_code ec;
    if (!options_.allowUdev || options_.devRoot != "/dev" ||
        !fs::exists(options_.udevControl, ec)) {
        return false;
    }
    auto u = std::make_unique<Udev>();
    u->context.reset(udev_new());
    if (!u->context) return false;
    u->monitor.reset(udev_monitor_new_from_netlink(u->context.get(), "udev"));
    if (!u->monitor) return false;
    if (udev_monitor_filter_add_match_subsystem_devtype(u->monitor.get(), "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(u->monitor.get()) < 0) {
        return false;
    }
    if (udev_monitor_get_fd(u->monitor.get()) < 0) return false;
    udev_ = std::move(u);
    return true;
#else
    return false;
#endif
}

void DeviceWatch::TakeUdevEvents() {
#if defined(PELOR_HAVE_UDEV)
    // The monitor's socket does not block: take every event queued.
    while (udev_) {
        std::unique_ptr<udev_device, Udev::DeviceUnref> device(
            udev_monitor_receive_device(udev_->monitor.get()));
        if (!device) return;
        const char* action = udev_device_get_action(device.get());
        const char* node = udev_device_get_devnode(device.get());
        if (action == nullptr || node == nullptr) continue;
        if (std::strcmp(action, "add") == 0) {
            NodeAdded(node);
        } else if (std::strcmp(action, "remove") == 0) {
            NodeRemoved(node);
        }
    }
#endif
}
