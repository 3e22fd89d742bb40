#include "device_watcher.h"

#include <QSocketNotifier>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "transport/port_table.h"

#if defined(PELOR_HAVE_UDEV)
#include <libudev.h>
#endif

namespace {

namespace fs = std::filesystem;

std::string Resolved(const std::string& path) {
    std::error_code ec;
    const fs::path target = fs::canonical(path, ec);
    return ec ? std::string() : target.string();
}

}  // namespace

#if defined(PELOR_HAVE_UDEV)
// The udev context and its monitor, released in that order's reverse.
struct DeviceWatcher::Udev {
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
struct DeviceWatcher::Udev {};
#endif

DeviceWatcher::DeviceWatcher(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    connect(&timer_, &QTimer::timeout, this, &DeviceWatcher::Rescan);
}

DeviceWatcher::~DeviceWatcher() {
    Stop();
}

void DeviceWatcher::Stop() {
    timer_.stop();
    // The notifier goes before the monitor whose socket it watches.
    notifier_.reset();
    udev_.reset();
    mode_ = Mode::None;
}

DeviceWatcher::Mode DeviceWatcher::Start() {
    Stop();
#if defined(_WIN32)
    return mode_;
#else
    // The monitor first, then the devices present: nothing arrives unseen in between.
    const bool udev = StartUdev();
    known_.clear();
    for (auto& [name, node] : Scan()) known_.emplace(std::move(name), std::move(node));
    if (udev) {
        mode_ = Mode::Udev;
    } else {
        timer_.start(options_.interval);
        mode_ = Mode::Polling;
    }
    return mode_;
#endif
}

std::vector<std::pair<std::string, std::string>> DeviceWatcher::Scan() const {
    std::vector<std::pair<std::string, std::string>> found;
    for (const std::string& name : PORTTABLE_ScanDevicesIn(options_.devRoot)) {
        std::string node = Resolved(name);
        if (!node.empty()) found.emplace_back(name, std::move(node));
    }
    return found;
}

void DeviceWatcher::Rescan() {
    const auto now = Scan();
    std::vector<std::string> removed, added;
    std::map<std::string, std::string> next;
    for (const auto& [name, node] : now) {
        if (known_.count(name) == 0) added.push_back(name);
        next.emplace(name, node);
    }
    for (const auto& entry : known_) {
        if (next.count(entry.first) == 0) removed.push_back(entry.first);
    }
    // The new state first: a handler that looks (or a nested event loop that scans again)
    // sees it.
    known_ = std::move(next);
    for (const std::string& name : removed) emit DeviceRemoved(QString::fromStdString(name));
    for (const std::string& name : added) emit DeviceArrived(QString::fromStdString(name));
}

void DeviceWatcher::NodeAdded(const std::string& node) {
    const std::string resolved = Resolved(node);
    if (resolved.empty()) return;
    // The name a scan gives the node (its by-path link where there is one); a tty that a scan
    // does not list (a console, a pseudo-terminal) is not a serial device of the station's.
    for (const auto& [name, target] : Scan()) {
        if (target != resolved) continue;
        if (known_.emplace(name, target).second) emit DeviceArrived(QString::fromStdString(name));
        return;
    }
}

void DeviceWatcher::NodeRemoved(const std::string& node) {
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
    for (const std::string& name : removed) emit DeviceRemoved(QString::fromStdString(name));
}

bool DeviceWatcher::StartUdev() {
#if defined(PELOR_HAVE_UDEV)
    // udev's events name nodes under /dev; without a running udev the monitor would stay
    // silent, so the polling watcher takes over.
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
    const int fd = udev_monitor_get_fd(u->monitor.get());
    if (fd < 0) return false;
    udev_ = std::move(u);
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &DeviceWatcher::OnUdevReadable);
    return true;
#else
    return false;
#endif
}

void DeviceWatcher::OnUdevReadable() {
#if defined(PELOR_HAVE_UDEV)
    if (!udev_) return;
    // The monitor's socket does not block: take every event queued, then wait again.
    for (;;) {
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
        if (!udev_) return;  // a handler stopped the watcher
    }
#endif
}
