#pragma once
// Production mode: each socket (a channel with its port) runs a job whenever a handset arrives
// on it, while the other sockets go on. A job is exactly a batch channel's job (FileDownload);
// after its result the socket waits for its handset to leave and the next one to arrive, so a
// handset left plugged in is never flashed twice. A port present when the mode starts counts as
// an arrival.
//
// A handset restarts on GO: its port goes away and comes back on the same socket, now running
// its new firmware. That is not a new handset. Within the settle time after a job that sent
// GO (done, or failed at a slot: the close procedure sends it too), a returning handset with
// the same USB serial number is not flashed again; one with another serial number is a new
// handset; when the system gives no serial number, a job is started but counts only if the
// handset answers the unlock (a restarted handset is not in download mode). Until then the socket
// is Checking: its texts are not shown, nothing is recorded, and a handset that does not answer is
// not counted.
//
// The runner is the notification target of its jobs: it keeps each socket's current text and
// hands every message on to the front end's target.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "jobs/runner.h"
#include "jobs/status.h"
#include "transport/channels.h"

// How often the sockets' devices are looked at: a job starts at most this long (plus one
// pump pass) after its handset's device appears, and a finished job is taken up as late. A
// look is two stat calls a socket; where the system's device events wake the pump, they come
// first.
inline constexpr std::chrono::milliseconds kPresencePollInterval{25};
// How long after a job that sent GO a handset coming back on its socket may be that handset
// restarting on GO (a USB device takes up to about 10 s to come back with its new firmware).
inline constexpr std::chrono::milliseconds kRestartSettleTime{10000};

// One finished job, as the report and the display show it.
struct ContinuousJob {
    int channel = 0;
    std::string device;
    std::chrono::system_clock::time_point start;
    std::chrono::system_clock::time_point end;
    bool ok = false;
    std::string text;      // the bar's last text
    long long bytes = 0;   // image bytes handed to the link
    bool removed = false;  // the handset left during the job
};

enum class SocketState {
    Unused,    // no port
    Empty,     // waiting for a handset to arrive
    Running,   // a job runs on the handset
    Finished,  // result shown; waiting for the handset to leave
    Checking,  // a handset came back within the settle time: is it the one just flashed?
};

struct SocketSnapshot {
    SocketState state = SocketState::Unused;
    std::chrono::system_clock::time_point start;  // of the running or last job
    std::string text;                             // current step, or the last job's result text
    bool lastOk = false;
    bool hasResult = false;
    int done = 0;
    int failed = 0;
    int restarts = 0;  // handsets seen coming back after GO, neither flashed again nor counted
};

struct ContinuousTotals {
    int done = 0;
    int failed = 0;
    int restarts = 0;
    int running = 0;
    double perHour = 0;  // finished handsets per hour since the mode started
};

struct ContinuousOptions {
    std::array<int, kChannels> ports{};            // port number per socket, 0 = unused
    std::array<std::string, kChannels> devices{};  // what is watched for each socket
    int baud = 1382400;
    int maxJobs = 0;  // end after this many finished jobs; 0 = no limit
    // Whether a socket's device is there now; empty = PORT_PRESENCE_Exists(devices[channel]).
    std::function<bool(int channel)> present;
    // The USB serial number of the handset on a socket now (empty: the system gives none);
    // empty function = PORT_IDENTITY_SerialNumber(devices[channel]).
    std::function<std::string(int channel)> serial;
    // After a job that sent GO, how long a handset coming back on its socket may be that
    // handset restarting; measured on the station's clock.
    std::chrono::milliseconds settle = kRestartSettleTime;
    // Called on the thread of Run for every finished job, in the order they finish.
    std::function<void(const ContinuousJob&)> onJobEnd;
    NotifyTarget* target = nullptr;  // where the jobs' texts go on to
    std::chrono::milliseconds poll = kPresencePollInterval;
};

class ContinuousRunner : public NotifyTarget {
public:
    explicit ContinuousRunner(ContinuousOptions options);
    ~ContinuousRunner() override;
    ContinuousRunner(const ContinuousRunner&) = delete;
    ContinuousRunner& operator=(const ContinuousRunner&) = delete;

    // Runs until a stop was asked for and the running jobs have ended, or maxJobs jobs have
    // finished. Between looks at the sockets it calls pump (the front end's events) for up to
    // the poll interval; an empty pump sleeps. Registers itself with PELOR_Start and ends with
    // PELOR_Stop. Returns 1 when every finished job succeeded, 0 otherwise.
    int Run(const RunPump& pump = {});

    // From any thread (a signal, the window's Stop): take no new handsets; running jobs finish.
    void RequestStop() { stop_ = true; }
    // From any thread: also stop the running jobs now (PELOR_CloseChannel).
    void RequestAbort() {
        stop_ = true;
        abort_ = true;
    }
    bool StopRequested() const { return stop_.load(); }
    // Gives a socket its port (0 = none) while no job runs on it, as automatic assignment does
    // when a device appears; from the pump only (Run's thread). 1 when taken.
    int SetSocketPort(int channel, int port, const std::string& device);

    // From the pump (Run's thread): the system reported the socket's device removed. Seen at
    // the next look even when the device is back by then (a quick swap). The look at the
    // socket's device is the back-up: a device taken away and back between two looks is
    // another device there (PORT_PRESENCE_Identity).
    void DeviceLeft(int channel);

    SocketSnapshot Socket(int channel) const;
    ContinuousTotals Totals() const;

    long OnStatusMessage(unsigned message, std::uintptr_t wParam, const void* lParam) override;
    void OnAlert(int channel, const char* text) override;

private:
    struct SocketRecord {
        SocketState state = SocketState::Unused;
        std::thread worker;
        std::chrono::system_clock::time_point start;
        bool removed = false;      // left during the running job
        std::string serial;        // of the running or last job's handset; empty: not known
        std::string identity;      // what was plugged in when the handset arrived
        bool left = false;         // the system reported the device removed since
        bool settling = false;     // the last job sent GO: its handset may come back restarted
        std::uint32_t goTick = 0;  // the station's tick when that job ended
        SocketSnapshot view;
    };

    bool Present(int channel) const;
    std::string Identity(int channel) const;
    std::string Serial(int channel) const;
    bool Settling(const SocketRecord& s) const;
    void Arrival(int channel);
    void TakeAsRestart(int channel);
    void StartJob(int channel, bool checking);
    void ReapWorker(int channel);
    void EndJob(int channel);
    void Pass();
    bool AnyRunning() const;

    ContinuousOptions options_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> abort_{false};
    bool aborted_ = false;   // the abort was carried out (Run's thread)
    int started_ = 0;        // Run's thread
    mutable std::mutex mu_;  // guards sockets_' views, finished counts, began_
    std::array<SocketRecord, kChannels> sockets_;
    std::chrono::steady_clock::time_point began_;
    int done_ = 0;
    int failed_ = 0;
    int restarts_ = 0;
    // Per socket: a check is running, whose texts are not handed on (set by Run's thread,
    // cleared by the job's worker once the handset answered the unlock).
    std::array<std::atomic<bool>, kChannels> quiet_{};
};

// Prepares one channel for a job as a Download does for all of them (active flag, framing and
// link state, port and bit rate), leaving every other channel as it is.
void CONTINUOUS_ArmChannel(int channel, int port, int baudRate);
