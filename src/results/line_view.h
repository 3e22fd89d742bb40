#pragma once
// The line at a glance, as `pelor line` shows it: every station that publishes its sockets to
// the line's server (pelor_sockets), each socket's live state and suspect badge, and each
// station's jobs since the start of the day (pelor_jobs): how many, done and failed, yield,
// handsets per hour, failures by step and reason. Read in a session that only reads.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "results/results_store.h"

struct LineSocket {
    int channel = 0;
    std::string device;
    std::string state;  // idle | flashing | done | failed | off
    int progress = 0;   // percent
    std::string text;
    std::string failStep;
    std::string failReason;
    std::string suspect;       // the badge while suspect, else empty
    std::string jobStartedAt;  // UTC text; empty before the first job
    std::string updated;       // UTC text
};

struct LineFailure {
    std::string step;
    std::string reason;  // the recorded reason, else the bar's last text
    int count = 0;
};

// A station's jobs started since the start of the day.
struct LineToday {
    int jobs = 0;
    int done = 0;
    int failed = 0;
    double yield = 0;    // percent done of all; 0 for no jobs
    double perHour = 0;  // handsets done per hour of the station's working span (its first job's
                         // start to its last job's end); 0 for a span under a minute
    std::vector<LineFailure> failures;  // most frequent first
};

struct LineStation {
    std::string station;
    std::string updated;  // its sockets' latest change (UTC text); empty when it has none
    std::vector<LineSocket> sockets;  // by channel
    LineToday today;
};

struct LineSuspect {
    std::string station;
    int channel = 0;
    std::string device;
    std::string text;  // the badge
};

struct LineView {
    std::int64_t generatedMs = 0;
    std::int64_t dayStartMs = 0;
    std::vector<LineSuspect> suspects;  // by station, then channel
    std::vector<LineStation> stations;  // by name
};

// The view as JSON (one line). staleReason, when not empty, says the view may be out of date
// and why ("stale": true, "error": the reason).
std::string RESULTS_LineJson(const LineView& view, const std::string& staleReason = "");

// The last local midnight at or before nowMs (milliseconds since 1970), in this machine's time
// zone.
std::int64_t RESULTS_LocalMidnight(std::int64_t nowMs);

// Handsets per hour: done jobs over the span from firstStartMs to lastEndMs; 0 when the span is
// under a minute.
double RESULTS_PerHour(int done, std::int64_t firstStartMs, std::int64_t lastEndMs);

// A session with a line's server that reads the line and listens for its changes (the stations'
// NOTIFY pelor_line). Its transactions are read-only: it never writes.
class LineSource {
public:
    virtual ~LineSource() = default;
    // Reads the sockets and the jobs started at or after dayStartMs. A missing table is an empty
    // one. False with *error set (one line) when the server could not be read.
    virtual bool Read(std::int64_t dayStartMs, LineView* view, std::string* error) = 0;
    // Waits up to bound for a station's signal; *changed tells whether one came. False when the
    // session is lost (or its owner asked to stop).
    virtual bool AwaitChange(std::chrono::milliseconds bound, bool* changed) = 0;
    // False once the session is lost; it is then to be opened again.
    virtual bool Usable() const = 0;
};

// Opens a reading session that listens for the line's changes. Null with *error set (one line,
// the URL masked). Every wait ends soon after *stop (when given) is set.
std::unique_ptr<LineSource> RESULTS_OpenLineSource(const std::string& url,
                                                   const ServerLimits& limits,
                                                   const std::atomic<bool>* stop,
                                                   std::string* error);
