#pragma once
// The window's device watcher: the core's DeviceWatch (transport/device_watch.h) driven by the
// window's event loop (a timer for the polling watch, a socket notifier for udev's monitor), its
// arrivals and removals delivered as signals on the window's thread. On Windows the window gets
// the system's device-change broadcast itself and nothing is watched here.
#include <QObject>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <string>

#include "transport/device_watch.h"

class QSocketNotifier;

class DeviceWatcher : public QObject {
    Q_OBJECT

public:
    using Mode = DeviceWatch::Mode;
    using Options = DeviceWatcherOptions;

    explicit DeviceWatcher(Options options = Options(), QObject* parent = nullptr);
    ~DeviceWatcher() override;
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    // Takes the devices present now as known and starts watching: udev when it runs and its
    // monitor can be had, else polling. Returns the way chosen (None on Windows).
    Mode Start();
    void Stop();
    Mode CurrentMode() const { return watch_.CurrentMode(); }

    // Scans the device folder and reports what changed since the last scan (removals first).
    // The polling watcher's tick.
    void Rescan() { watch_.Rescan(); }
    // What the udev monitor reports: a tty node added or removed.
    void NodeAdded(const std::string& node) { watch_.NodeAdded(node); }
    void NodeRemoved(const std::string& node) { watch_.NodeRemoved(node); }
    // The devices known now: name -> the node it resolves to.
    const std::map<std::string, std::string>& Known() const { return watch_.Known(); }

signals:
    void DeviceArrived(const QString& device);
    void DeviceRemoved(const QString& device);

private:
    DeviceWatch watch_;
    QTimer timer_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
