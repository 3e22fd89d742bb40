#pragma once
// Serial devices appearing and disappearing while the window is open, reported on the window's
// thread by the names the port table knows them by (the same names PORTTABLE_ScanDevices
// gives: the /dev/serial/by-path link where there is one). Two ways of noticing:
//   udev     a libudev monitor of the "tty" subsystem whose socket wakes the event loop; used
//            where udev runs;
//   polling  the device folder scanned every half second and compared with the last scan;
//            used where udev does not run (containers, minimal systems) or its monitor cannot
//            be had.
// The devices present when watching starts are known, not reported. On Windows the window
// gets the system's device-change broadcast itself and nothing is watched here.
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QSocketNotifier;

// Where and how often the watcher looks; the defaults are the real system's.
struct DeviceWatcherOptions {
    std::string devRoot = "/dev";                   // where devices are looked for
    std::chrono::milliseconds interval{500};        // the polling watcher's scan period
    std::string udevControl = "/run/udev/control";  // present while udev runs
    bool allowUdev = true;
};

class DeviceWatcher : public QObject {
    Q_OBJECT

public:
    enum class Mode { None, Udev, Polling };

    using Options = DeviceWatcherOptions;

    explicit DeviceWatcher(Options options = Options(), QObject* parent = nullptr);
    ~DeviceWatcher() override;
    DeviceWatcher(const DeviceWatcher&) = delete;
    DeviceWatcher& operator=(const DeviceWatcher&) = delete;

    // Takes the devices present now as known and starts watching: udev when it runs and its
    // monitor can be had, else polling. Returns the way chosen (None on Windows).
    Mode Start();
    void Stop();
    Mode CurrentMode() const { return mode_; }

    // Scans the device folder and reports what changed since the last scan (removals first).
    // The polling watcher's tick.
    void Rescan();
    // What the udev monitor reports: a tty node added or removed. An added node is reported
    // under the name a scan gives it, and only when a scan lists it; a removed one under the
    // name it was known by.
    void NodeAdded(const std::string& node);
    void NodeRemoved(const std::string& node);
    // The devices known now: name -> the node it resolves to.
    const std::map<std::string, std::string>& Known() const { return known_; }

signals:
    void DeviceArrived(const QString& device);
    void DeviceRemoved(const QString& device);

private:
    struct Udev;
    bool StartUdev();
    void OnUdevReadable();
    // The device folder's serial devices now, in the scan's order: name, resolved node.
    std::vector<std::pair<std::string, std::string>> Scan() const;

    const Options options_;
    Mode mode_ = Mode::None;
    std::map<std::string, std::string> known_;  // name -> node
    QTimer timer_;
    std::unique_ptr<Udev> udev_;
    std::unique_ptr<QSocketNotifier> notifier_;
};
