#pragma once
// The station's recording of finished jobs: each record is committed to the station's own
// store at once and, when a line's server is configured, sent up by a background thread that
// never holds up a job. Rows that cannot go up wait in the station's store and go up later, in
// order, each once. Problems become one line each, collected for the front end to show.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "results/results_store.h"

struct ResultsConfig {
    bool enabled = true;
    std::string databasePath;  // the station's store file; empty = RESULTS_DefaultDatabasePath()
    std::string serverUrl;     // a line's server ("postgresql://..."); empty = none
    std::string station;       // the station's name; empty = the host name
    // Pause between attempts to reach a server that is down.
    std::chrono::milliseconds retryInterval{5000};
};

class ResultsRecorder {
public:
    explicit ResultsRecorder(ResultsConfig config);
    ~ResultsRecorder();
    ResultsRecorder(const ResultsRecorder&) = delete;
    ResultsRecorder& operator=(const ResultsRecorder&) = delete;

    bool Enabled() const { return config_.enabled; }
    const std::string& Station() const { return config_.station; }
    // Where rows are kept on this station; empty when they are not.
    std::string DatabasePath() const;

    // Commits one finished job. Counts it for the session whether or not it could be stored.
    void Record(const JobRecord& record);
    // Lines for the operator since the last call ("results: ...").
    std::vector<std::string> TakeMessages();
    int SessionDone() const { return done_.load(); }
    int SessionFailed() const { return failed_.load(); }
    // Rows recorded here that have not reached the server yet (0 without a server).
    int Waiting() const;
    // Waits up to bound (in passes of at least 1 ms) until no row waits for the server; gives
    // up at once while the server is known to be down. True when none waits.
    bool Flush(std::chrono::milliseconds bound);

private:
    void Say(const std::string& line);
    void UploadLoop();
    bool UploadSome(ResultsStore& server);

    ResultsConfig config_;
    std::string databasePath_;
    mutable std::mutex storeMu_;  // guards local_ and memory_
    std::unique_ptr<LocalResultsStore> local_;
    MemoryResultsStore memory_;  // rows the station's file could not take
    std::atomic<int> done_{0};
    std::atomic<int> failed_{0};
    std::atomic<int> waiting_{0};
    std::atomic<bool> serverDown_{false};

    std::mutex messagesMu_;
    std::vector<std::string> messages_;
    std::string lastStoreProblem_;  // guarded by storeMu_

    std::mutex wakeMu_;
    std::condition_variable wake_;
    bool stop_ = false;    // guarded by wakeMu_
    bool nudged_ = false;  // guarded by wakeMu_
    std::thread uploader_;
};

// The host's name, "station" when it cannot be had.
std::string RESULTS_HostName();
// The software's version as recorded with each job.
const char* RESULTS_SoftwareVersion();
