#pragma once
// Serial devices appearing and disappearing, for both front ends, by the names the port table
// knows them by (the same names PORTTABLE_ScanDevices gives: the /dev/serial/by-path link where
// there is one). Two ways of noticing:
//   udev     a libudev monitor of the "tty" subsystem; its descriptor (PollFd) turns readable
//            when something happened, and Poll takes the events; used where udev runs;
//   polling  the device folder scanned every interval and compared with the last scan; used
//            where udev does not run (containers, minimal systems) or its monitor cannot be had.
// No thread of its own: the owner calls Poll from its event loop (the window's, or the command
// line's run pump). The devices present when watching starts are known, not reported. On
// Windows the window gets the system's device-change broadcast and nothing is watched here.
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Where and how often the watch looks; the defaults are the real system's.
struct DeviceWatcherOptions {
    std::string devRoot = "/dev";                   // where devices are looked for
    std::chrono::milliseconds interval{500};        // the polling watch's scan period
    std::string udevControl = "/run/udev/control";  // present while udev runs
    bool allowUdev = true;
};

struct DeviceEvent {
    bool arrived = false;  // false: removed
    std::string name;      // as a scan names it
    std::string node;      // the device node it resolves (or resolved) to
};

class DeviceWatch {
public:
    enum class Mode { None, Udev, Polling };
    using Options = DeviceWatcherOptions;
    using Sink = std::function<void(const DeviceEvent&)>;

    explicit DeviceWatch(Options options = Options(), Sink sink = {});
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    void SetSink(Sink sink) { sink_ = std::move(sink); }
    // Takes the devices present now as known and starts watching: udev when it runs and its
    // monitor can be had, else polling. Returns the way chosen (None on Windows).
    Mode Start();
    void Stop();
    Mode CurrentMode() const { return mode_; }
    const Options& options() const { return options_; }
    // The udev monitor's descriptor while watching with udev, else -1.
    int PollFd() const;
    // Reports what happened since the last call: the udev monitor's queued events, or a scan
    // when the polling interval has passed since the last one.
    void Poll();

    // Scans the device folder and reports what changed since the last scan (removals first).
    void Rescan();
    // What the udev monitor reports: a tty node added or removed. An added node is reported
    // under the name a scan gives it, and only when a scan lists it; a removed one under the
    // name it was known by.
    void NodeAdded(const std::string& node);
    void NodeRemoved(const std::string& node);
    // The devices known now: name -> the node it resolves to.
    const std::map<std::string, std::string>& Known() const { return known_; }

private:
    struct Udev;
    bool StartUdev();
    void TakeUdevEvents();
    void Report(bool arrived, const std::string& name, const std::string& node);
    // The device folder's serial devices now, in the scan's order: name, resolved node.
    std::vector<std::pair<std::string, std::string>> Scan() const;

    const Options options_;
    Sink sink_;
    Mode mode_ = Mode::None;
    std::map<std::string, std::string> known_;  // name -> node
    std::chrono::steady_clock::time_point lastScan_{};
    std::unique_ptr<Udev> udev_;
};

// The device node a path resolves to (links followed), or empty when it does not exist.
std::string DEVICE_ResolvedNode(const std::string& path);
