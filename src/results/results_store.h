#pragma once
// Where job records are kept: the station's own file, or a line's shared server. The station's
// store also remembers which rows have gone up to the server.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "results/job_record.h"
#include "results/server_errors.h"
#include "results/server_target.h"

struct ResultsSummary;

struct ResultsFilter {
    std::string since;    // keep jobs started at or after this UTC time text; empty = all
    std::string station;  // keep this station's jobs only; empty = all
};

class ResultsStore {
public:
    virtual ~ResultsStore() = default;
    // Commits one record (a job id already on record is left as it is). False with *error set
    // when it could not be committed.
    virtual bool Add(const JobRecord& record, std::string* error) = 0;
    // The records that pass the filter, oldest first.
    virtual bool Load(const ResultsFilter& filter, std::vector<JobRecord>* records,
                      std::string* error) = 0;
    // False once a store behind a connection has lost it; it is then to be opened again.
    virtual bool Connected() const { return true; }
    // The summary of the records that pass the filter (summary.h), as RESULTS_Summarise makes
    // it of Load's records; a server makes it itself, without sending every row. Not the rows
    // refused by a server, which only a station's file keeps.
    virtual bool Summarise(const ResultsFilter& filter, ResultsSummary* summary,
                           std::string* error);
};

// A line's server: the rows of every station.
class ServerResultsStore : public ResultsStore {
public:
    // Sends one record; anything but Sent sets *error (one line).
    virtual SendVerdict Send(const JobRecord& record, std::string* error) = 0;
    bool Add(const JobRecord& record, std::string* error) override {
        return Send(record, error) == SendVerdict::Sent;
    }
};

// Every wait on a line's server has a bound; these are the station's.
struct ServerLimits {
    std::chrono::milliseconds connect{5000};    // the login
    std::chrono::milliseconds statement{5000};  // the session's statement_timeout
    std::chrono::milliseconds lock{2000};       // the session's lock_timeout
    // tcp_user_timeout: data the server does not acknowledge for this long ends the connection
    // (and keepalives find a silent idle one within about 11 s).
    std::chrono::milliseconds silence{10000};
    // When set, the station's own bound on a statement: nothing from the server for this long
    // (a large result arrives for as long as it takes). Else the statement's time-out and a
    // little more, whatever arrives.
    std::chrono::milliseconds quiet{0};
};

// The bounds of a session that only reads (`pelor results`): a summary of a line's whole record
// may take the server a while, but a server that falls silent is still given up.
inline ServerLimits RESULTS_ReadingLimits() {
    ServerLimits limits;
    limits.statement = std::chrono::minutes(2);
    limits.lock = std::chrono::seconds(10);
    limits.quiet = std::chrono::seconds(30);
    return limits;
}

// A row the server refused for good, kept on the station with the server's reason.
struct RefusedJob {
    JobRecord record;
    std::string reason;
};

// The station's own store: rows wait here, in the order they were recorded, until they are
// marked as uploaded (or as refused for good by the server).
class LocalResultsStore : public ResultsStore {
public:
    // Up to limit records not yet uploaded, oldest first, passing over those whose job id skip
    // (when given) holds true for; no more rows are read than it takes to fill the batch.
    virtual bool PendingExcept(int limit, const std::function<bool(const std::string&)>& skip,
                               std::vector<JobRecord>* records, std::string* error) = 0;
    bool Pending(int limit, std::vector<JobRecord>* records, std::string* error) {
        return PendingExcept(limit, {}, records, error);
    }
    // How many records are not yet uploaded, without reading them.
    virtual bool CountPending(int* count, std::string* error) = 0;
    virtual bool MarkUploaded(const std::vector<std::string>& jobIds, std::string* error) = 0;
    // The server will never take this row (its data): it stays here, no longer waiting.
    virtual bool MarkRefused(const std::string& jobId, const std::string& reason,
                             std::string* error) = 0;
    // The rows the server refused for good, oldest first.
    virtual bool Refused(std::vector<RefusedJob>* rows, std::string* error) = 0;
    // What the station should hear once about how rows are kept; empty when all is as usual.
    virtual std::string Note() const { return ""; }
};

// Rows held in memory only: what a station records while its file cannot be written, so that
// they still reach the server and go into the file when it takes them again.
class MemoryResultsStore : public LocalResultsStore {
public:
    struct Row {
        JobRecord record;
        bool uploaded = false;
        std::string refusal;  // non-empty: refused for good
    };

    bool Add(const JobRecord& record, std::string* error) override;
    bool Load(const ResultsFilter& filter, std::vector<JobRecord>* records,
              std::string* error) override;
    bool PendingExcept(int limit, const std::function<bool(const std::string&)>& skip,
                       std::vector<JobRecord>* records, std::string* error) override;
    bool CountPending(int* count, std::string* error) override;
    bool MarkUploaded(const std::vector<std::string>& jobIds, std::string* error) override;
    bool MarkRefused(const std::string& jobId, const std::string& reason,
                     std::string* error) override;
    bool Refused(std::vector<RefusedJob>* rows, std::string* error) override;

    // Every row held, oldest first.
    const std::vector<Row>& Rows() const { return rows_; }
    // Forgets a row (it is kept elsewhere now).
    void Remove(const std::string& jobId);
    // Rows neither uploaded nor refused.
    int Unsent() const;

private:
    std::vector<Row> rows_;
};

// True when a record passes the filter.
bool RESULTS_Passes(const ResultsFilter& filter, const JobRecord& record);

// The station's store file: results.db under $XDG_DATA_HOME/pelor (else ~/.local/share/pelor);
// %LOCALAPPDATA%\pelor on Windows. Empty when none of these is set.
std::string RESULTS_DefaultDatabasePath();

// Opens (creating and migrating as needed) the station's store file; null with *error set when
// it cannot be opened or this build has no store for files.
std::unique_ptr<LocalResultsStore> RESULTS_OpenLocalStore(const std::string& path,
                                                          std::string* error);
// Connects to a line's server ("postgresql://..."); null with *error set (one line, the URL
// masked) when the URL is wrong, the server cannot be reached or refuses the login. Every wait
// of the store keeps to limits, and ends soon after *stop (when given) is set.
std::unique_ptr<ServerResultsStore> RESULTS_OpenServerStore(
    const std::string& url, std::string* error, const ServerLimits& limits = {},
    const std::atomic<bool>* stop = nullptr);
// Empty when this build can reach a line's server; else why not (one line).
std::string RESULTS_NoServerReason();
