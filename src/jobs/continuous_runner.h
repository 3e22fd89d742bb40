#pragma once
// Production mode: each socket (a channel with its port) runs a job whenever a handset arrives
// on it, while the other sockets go on. A job is exactly a batch channel's job (FileDownload);
// after its result the socket waits for its handset to leave and the next one to arrive, so a
// handset left plugged in is never flashed twice. A port present when the mode starts counts as
// an arrival.
//
// The runner is the notification target of its jobs: it keeps each socket's current text and
// hands every message on to the front end's target.
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "jobs/runner.h"
#include "jobs/status.h"
#include "transport/channels.h"

// How often the sockets' devices are looked at: a job starts at most this long (plus one
// pump pass) after its handset's device appears.
inline constexpr std::chrono::milliseconds kPresencePollInterval{100};

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
};

struct SocketSnapshot {
    SocketState state = SocketState::Unused;
    std::chrono::system_clock::time_point start;  // of the running or last job
    std::string text;                             // current step, or the last job's result text
    bool lastOk = false;
    bool hasResult = false;
    int done = 0;
    int failed = 0;
};

struct ContinuousTotals {
    int done = 0;
    int failed = 0;
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

    SocketSnapshot Socket(int channel) const;
    ContinuousTotals Totals() const;

    long OnStatusMessage(unsigned message, std::uintptr_t wParam, const void* lParam) override;
    void OnAlert(int channel, const char* text) override;

private:
    struct SocketRecord {
        SocketState state = SocketState::Unused;
        std::thread worker;
        std::chrono::system_clock::time_point start;
        bool removed = false;  // left during the running job
        SocketSnapshot view;
    };

    bool Present(int channel) const;
    void StartJob(int channel);
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
};

// Prepares one channel for a job as a Download does for all of them (active flag, framing and
// link state, port and bit rate), leaving every other channel as it is.
void CONTINUOUS_ArmChannel(int channel, int port, int baudRate);
