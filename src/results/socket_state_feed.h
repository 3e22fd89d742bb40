#pragma once
// What a station publishes of its sockets (socket_state_publisher.h), as the front ends tell
// it: a socket waiting or not in a run (idle), a job's start and its bar while it runs
// (flashing, in steps of 10%), the job's end as its record has it (done, failed with step and
// reason), the suspect badge, and 'off' when the station ends. Only a station recording to a
// line's server publishes; elsewhere every call does nothing. The front ends call it from one
// thread at a time or several: it is guarded.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "jobs/status_board.h"
#include "results/job_record.h"
#include "results/recorder.h"
#include "results/socket_state_publisher.h"

class SocketStateFeed {
public:
    // Publishes when config records to a server this build can reach.
    explicit SocketStateFeed(const ResultsConfig& config);
    ~SocketStateFeed();
    bool Active() const { return publisher_ != nullptr; }

    // The socket waits for a handset (production mode), or is not in a run.
    void Idle(int channel, const std::string& device);
    // A job starts on the socket.
    void Started(int channel, const std::string& device, std::int64_t startMs);
    // The running job's bar: its percent in steps of 10, its text with that percent.
    void Progress(int channel, const BarState& bar);
    // The job's end, as it was put on record.
    void Ended(const JobRecord& record);
    // The socket's suspect badge; empty when it is not (or no longer) suspect.
    void Suspect(int channel, const std::string& badge);
    std::vector<std::string> TakeMessages();
    // Every socket 'off', sent by the publisher's thread while the front end closes the rest;
    // returns at once.
    void Closing();
    // Every socket 'off'; ends within bound (publisher's Close).
    void Close(std::chrono::milliseconds bound);
    // Upserts and batches sent so far (for the measurements).
    int Rows() const;
    int Batches() const;

private:
    void PublishLocked(const SocketStateUpdate& update);

    std::mutex mu_;
    std::array<std::optional<SocketStateUpdate>, kChannels> sockets_;
    std::unique_ptr<SocketStatePublisher> publisher_;
};

// The bar of a running job as published: its percent rounded down to a step of 10, and its
// text with that percent in place of the exact one ("AMSS: 40% [2/3]").
void RESULTS_CoarseProgress(const BarState& bar, int* percent, std::string* text);
