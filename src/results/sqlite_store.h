#pragma once
// The station's own store: one SQLite file in WAL mode (a rollback journal where WAL cannot be
// had), a row committed as each job ends.
// The schema carries a version (table schema_version) and is migrated forward on open.
#include <memory>
#include <string>

#include "results/results_store.h"

struct sqlite3;

inline constexpr int kResultsSchemaVersion = 3;

class SqliteResultsStore : public LocalResultsStore {
public:
    // Opens or creates path (and its folder) and migrates it to targetVersion (tests pass an
    // older version to make an old file, or another of SQLite's file layers as vfs). Null with
    // *error set on failure.
    static std::unique_ptr<SqliteResultsStore> Open(const std::string& path, std::string* error,
                                                    int targetVersion = kResultsSchemaVersion,
                                                    const char* vfs = nullptr);
    ~SqliteResultsStore() override;
    SqliteResultsStore(const SqliteResultsStore&) = delete;
    SqliteResultsStore& operator=(const SqliteResultsStore&) = delete;

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

    std::string Note() const override { return note_; }
    int SchemaVersion() const;
    // "wal" normally; "delete" where the folder cannot hold a write-ahead log.
    std::string JournalMode() const;
    // Runs one SQL text (tests: to look at or damage a file). False with *error set on failure.
    bool Exec(const std::string& sql, std::string* error);

private:
    explicit SqliteResultsStore(sqlite3* db) : db_(db) {}
    bool UseWal(std::string* error);
    bool Migrate(int targetVersion, std::string* error);
    // reasons (when given) receives each row's refusal text; rows whose job id skip (when
    // given) holds true for are passed over, and reading stops once limit rows are taken.
    bool Select(const std::string& where, const std::vector<std::string>& args, int limit,
                std::vector<JobRecord>* records, std::string* error,
                std::vector<std::string>* reasons = nullptr,
                const std::function<bool(const std::string&)>& skip = {});
    sqlite3* db_;
    std::string note_;
};
