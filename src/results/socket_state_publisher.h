#pragma once
// A station's sockets as the line sees them: each socket's latest state goes into the line
// server's pelor_sockets table (one row per station and channel) and the station signals it
// with NOTIFY pelor_line. A thread of its own sends the sockets that changed, in one statement,
// at most a few times a second: many changes of a socket in between go up as its latest only.
// Publish never waits, and nothing the server does (away, a table held locked, a statement that
// never ends) costs the station more than the view: the thread backs off, says so once, and
// Close ends it within its bound.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "results/results_store.h"

// The states a socket is published in.
inline constexpr const char* kSocketIdle = "idle";
inline constexpr const char* kSocketFlashing = "flashing";
inline constexpr const char* kSocketDone = "done";
inline constexpr const char* kSocketFailed = "failed";
inline constexpr const char* kSocketOff = "off";

// One socket's row.
struct SocketStateUpdate {
    int channel = 0;
    std::string device;               // the socket's port as the station names it
    std::string state = kSocketIdle;  // one of the states above
    int progress = 0;                 // percent in steps of 10 while flashing; 100 when done
    std::string text;                 // the bar's text: the step while flashing, else the result
    std::string failStep;             // when failed: as the job's record names them
    std::string failReason;
    std::string suspect;            // the socket's suspect badge; empty when it is not suspect
    std::int64_t jobStartedMs = 0;  // the running or last job's start (ms since 1970); 0 = none

    bool operator==(const SocketStateUpdate&) const = default;
};

struct SocketStatesConfig {
    std::string serverUrl;
    std::string station;
    ServerLimits server;
    // The least time between two batches.
    std::chrono::milliseconds interval{250};
    // Pause before trying again after the server could not take a batch; it doubles with each
    // failed try up to retryMax.
    std::chrono::milliseconds retryInterval{2000};
    std::chrono::milliseconds retryMax{60000};
};

class SocketStatePublisher {
public:
    explicit SocketStatePublisher(SocketStatesConfig config);
    // Closes within kResultsCloseBound when Close has not been called.
    ~SocketStatePublisher();
    SocketStatePublisher(const SocketStatePublisher&) = delete;
    SocketStatePublisher& operator=(const SocketStatePublisher&) = delete;

    // Keeps the socket's latest state for the next batch; never waits for the server.
    void Publish(const SocketStateUpdate& update);
    // Lines for the operator since the last call ("results: ..."): an outage of the view is said
    // once, however many tries it takes, and its end once.
    std::vector<std::string> TakeMessages();
    // Batches the server took, and the rows in them (each an upsert; one NOTIFY per batch).
    int Batches() const;
    int Rows() const;
    // Every socket published so far goes 'off' and the thread is told to end once it has sent
    // it; returns at once (Close waits). Later Publish calls are not sent. Idempotent.
    void Closing();
    // Closing, then: every socket published so far goes 'off', keeping its last text and badge
    // (best effort: the thread is given
    // most of bound to send it, a statement still in flight is then cancelled), and the thread ends
    // within bound; one that does not stop in time is left behind. Idempotent.
    void Close(std::chrono::milliseconds bound);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    bool closed_ = false;
};
