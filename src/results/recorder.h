#pragma once
// The station's recording of finished jobs: each record is committed to the station's own
// store at once and, when a line's server is configured, sent up by a background thread that
// never holds up a job. Rows that cannot go up wait in the station's store and go up later, in
// order, each once; a row the server refuses for its data stays on the station, marked so. A
// row the store does not take (a full disk) is held in memory, sent to the server all the same,
// and written into the store as soon as it takes rows again. No server can keep the station
// from ending: Close ends the uploader within its bound whatever the server does, and what was
// not sent waits for a later run. Problems become one line each, collected for the front end to
// show.
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "results/results_store.h"

struct ResultsConfig {
    bool enabled = true;
    std::string databasePath;  // the station's store file; empty = RESULTS_DefaultDatabasePath()
    std::string serverUrl;     // a line's server ("postgresql://..."); empty = none
    std::string station;       // the station's name; empty = the host name
    // Pause before trying again after the server could not take rows; it doubles with each
    // failed try up to retryMax.
    std::chrono::milliseconds retryInterval{2000};
    std::chrono::milliseconds retryMax{60000};
    ServerLimits server;
};

// How long ending the recording may take by default (the front ends' bound on leaving).
inline constexpr std::chrono::milliseconds kResultsCloseBound{5000};

class ResultsRecorder {
public:
    explicit ResultsRecorder(ResultsConfig config);
    // Closes within kResultsCloseBound when Close has not been called.
    ~ResultsRecorder();
    ResultsRecorder(const ResultsRecorder&) = delete;
    ResultsRecorder& operator=(const ResultsRecorder&) = delete;

    bool Enabled() const;
    const std::string& Station() const;
    // Where rows are kept on this station; empty when they are not.
    std::string DatabasePath() const;

    // Commits one finished job. Counts it for the session whether or not it could be stored.
    // Never waits for the server.
    void Record(const JobRecord& record);
    // Lines for the operator since the last call ("results: ...").
    std::vector<std::string> TakeMessages();
    int SessionDone() const { return done_.load(); }
    int SessionFailed() const { return failed_.load(); }
    // Rows recorded here that have not reached the server yet (0 without a server).
    int Waiting() const;
    // Waits up to bound (in passes of at least 1 ms) until no row waits for the server; gives
    // up at once while the server is known to be down or refusing rows for now. True when none
    // waits.
    bool Flush(std::chrono::milliseconds bound);
    // Ends the uploader within bound: the server is given most of it to take the waiting rows,
    // then a statement in flight is cancelled and the uploader stopped; one that does not stop
    // in time is left behind. The rows held in memory get a last try at the store. When rows
    // still wait, one line says for which server and where they wait (without the outage's
    // reason when its line was taken already); rows the store never took and the server does
    // not have are said to be lost. Records made after it are kept on the station only.
    // Idempotent.
    void Close(std::chrono::milliseconds bound = kResultsCloseBound);

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    std::thread uploader_;
    bool closed_ = false;
    std::atomic<int> done_{0};
    std::atomic<int> failed_{0};
};

// The host's name, "station" when it cannot be had.
std::string RESULTS_HostName();
// The software's version as recorded with each job.
const char* RESULTS_SoftwareVersion();
