#pragma once
// A socket going bad: a cable, adapter or contacts wearing out fail handset after handset while
// the station's other sockets go on. A socket is suspect when, over its last jobs, it fails
// markedly more than the station's other sockets over the same period; a failure the handset
// caused (a refusal) counts less than a failure of the link (time-outs, spoilt frames, a port
// that went away). The flag stays until a run of good jobs on that socket, or until the operator
// acknowledges it; either way the socket's earlier jobs are then forgotten.
//
// The front ends feed it the jobs they record (step and reason as the records name them), one
// watch per station; `pelor results` replays the records through one.
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "results/job_record.h"

// The rule; the settings file's keys (section "PELOR") are beside each field.
struct SuspectRule {
    int window = 5;          // SUSPECT_WINDOW: a socket's last jobs that are judged
    int failures = 3;        // SUSPECT_FAILURES: failures among them that make it suspect
    int minJobs = 5;         // SUSPECT_MIN_JOBS: the socket's jobs, and the others' together in
                             // the same period, before anything is said
    int othersYield = 90;    // SUSPECT_OTHERS_YIELD: percent the other sockets at least reach
    int refusalWeight = 50;  // SUSPECT_REFUSAL_WEIGHT: percent of a failure a refusal counts
    int clearAfter = 3;      // SUSPECT_CLEAR_AFTER: good jobs in a row that clear the flag
};

inline constexpr const char* kSuspectWindowKey = "SUSPECT_WINDOW";
inline constexpr const char* kSuspectFailuresKey = "SUSPECT_FAILURES";
inline constexpr const char* kSuspectMinJobsKey = "SUSPECT_MIN_JOBS";
inline constexpr const char* kSuspectOthersYieldKey = "SUSPECT_OTHERS_YIELD";
inline constexpr const char* kSuspectRefusalWeightKey = "SUSPECT_REFUSAL_WEIGHT";
inline constexpr const char* kSuspectClearAfterKey = "SUSPECT_CLEAR_AFTER";

// The rule as the settings file at settingsPath sets it; a key missing or out of its range
// keeps its default.
SuspectRule RESULTS_SuspectRule(const std::string& settingsPath);

// What a job's end says about its socket.
enum class SocketVerdict {
    Good,       // done
    Link,       // the line failed: time-out, spoilt frames, a bad reply, the port gone or shut
    Handset,    // the handset refused (the image, its version): counts refusalWeight percent
    NotCounted  // stopped by the operator, a file or the station's own resources: not the socket
};
SocketVerdict RESULTS_SocketVerdict(bool ok, const std::string& step, const std::string& reason);

// One job as the watch sees it.
struct SocketJob {
    int channel = 0;
    std::int64_t startMs = 0;  // milliseconds since 1970
    std::int64_t endMs = 0;
    bool ok = false;
    std::string step;    // as recorded ("block", "open", ...); empty when done
    std::string reason;  // as recorded ("time-out", "port gone", "refused", ...)
};

// The job that has just ended on channel, its step and reason named as its record names them
// (from the channel's outcome); on the thread that ran the station's jobs.
SocketJob RESULTS_EndedSocketJob(int channel, bool ok, std::chrono::system_clock::time_point start,
                                 std::chrono::system_clock::time_point end);

// Why a socket is suspect: its last jobs and their failures by reason, and the station's other
// sockets over the same period.
struct SuspectEvidence {
    int channel = 0;
    std::string device;        // the socket's device (filled by RESULTS_SuspectSockets)
    std::int64_t sinceMs = 0;  // the end of the job that made it suspect
    int jobs = 0;              // its last jobs judged
    int failures = 0;          // failed among them
    std::vector<std::pair<std::string, int>> reasons;  // "port gone (block)" and how often
    int othersJobs = 0;                                // the other sockets' jobs in that period
    int othersFailures = 0;
};

// One station's sockets.
class SocketWatch {
public:
    explicit SocketWatch(SuspectRule rule = {});

    // A job has ended (jobs come in the order they ended). True when a socket's flag changed.
    bool Add(const SocketJob& job);
    // The operator acknowledges the flag: cleared, and the socket's jobs so far forgotten.
    // True when it was suspect.
    bool Acknowledge(int channel);
    bool Suspect(int channel) const;
    // The evidence of a suspect socket: its last jobs as they stand now, or, when none of them is
    // remembered any more, those that made it suspect; false when it is not suspect.
    bool Evidence(int channel, SuspectEvidence* evidence) const;
    // Every suspect socket, by channel.
    std::vector<SuspectEvidence> Suspects() const;
    const SuspectRule& Rule() const { return rule_; }

private:
    struct Entry {
        std::int64_t seq = 0;
        SocketJob job;
        SocketVerdict verdict = SocketVerdict::Good;
    };
    struct Socket {
        bool suspect = false;
        std::int64_t sinceMs = 0;
        int goodRun = 0;
        // What made it suspect: shown when its jobs have since been forgotten (the other
        // sockets ran on for long after its last one).
        SuspectEvidence flagged;
        // Its last jobs (their seq), oldest first; forgotten when the flag is cleared or
        // acknowledged.
        std::deque<std::int64_t> recent;
    };

    // The socket's last jobs judged (newest last), within what is remembered.
    std::vector<const Entry*> Window(int channel) const;
    bool Judge(int channel, SuspectEvidence* evidence) const;

    SuspectRule rule_;
    std::deque<Entry> entries_;  // the jobs counted, oldest first, bounded
    std::int64_t nextSeq_ = 0;
    std::map<int, Socket> sockets_;
};

// One station's suspect sockets, as the records say at their end.
struct StationSuspects {
    std::string station;
    std::vector<SuspectEvidence> sockets;
};
// Replays the records (any order; several stations) per station in the order the jobs ended.
std::vector<StationSuspects> RESULTS_SuspectSockets(const std::vector<JobRecord>& records,
                                                    const SuspectRule& rule);
// One line for a person: "ch2 /dev/..: 4 of its last 5 jobs failed (port gone (block) 3,
// refused (version) 1); the other sockets: 1 of 38 failed in the same period; since <UTC>".
std::string RESULTS_DescribeSuspect(const SuspectEvidence& evidence);
// The short form for a bar or a socket line: "SUSPECT: 4 of 5 failed (port gone 3, ...)".
std::string RESULTS_SuspectBadge(const SuspectEvidence& evidence);
