#pragma once
// Where job records are kept: the station's own file, or a line's shared server. The station's
// store also remembers which rows have gone up to the server.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "results/job_record.h"

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
};

// The station's own store: rows wait here, in the order they were recorded, until they are
// marked as uploaded.
class LocalResultsStore : public ResultsStore {
public:
    // Up to limit records not yet uploaded, oldest first.
    virtual bool Pending(int limit, std::vector<JobRecord>* records, std::string* error) = 0;
    virtual bool MarkUploaded(const std::vector<std::string>& jobIds, std::string* error) = 0;
    // What the station should hear once about how rows are kept; empty when all is as usual.
    virtual std::string Note() const { return ""; }
};

// Rows held in memory only: what a station records while its file cannot be written, so that
// they still reach the server.
class MemoryResultsStore : public LocalResultsStore {
public:
    bool Add(const JobRecord& record, std::string* error) override;
    bool Load(const ResultsFilter& filter, std::vector<JobRecord>* records,
              std::string* error) override;
    bool Pending(int limit, std::vector<JobRecord>* records, std::string* error) override;
    bool MarkUploaded(const std::vector<std::string>& jobIds, std::string* error) override;

private:
    struct Row {
        JobRecord record;
        bool uploaded = false;
    };
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
// Connects to a line's server ("postgresql://..."); null with *error set (one line) when the
// URL is wrong, the server cannot be reached or refuses the login.
std::unique_ptr<ResultsStore> RESULTS_OpenServerStore(const std::string& url, std::string* error);
// Empty when this build can reach a line's server; else why not (one line).
std::string RESULTS_NoServerReason();
// The URL with its password replaced by "***", for messages.
std::string RESULTS_HidePassword(const std::string& url);
// True for a text that names a server store.
bool RESULTS_IsServerUrl(const std::string& text);
