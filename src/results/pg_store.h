#pragma once
// A line's shared store: the jobs of every station on one PostgreSQL server, reached through
// libpq. Rows are keyed by their job id, so sending one twice leaves one row.
#include <memory>
#include <string>

#include "results/results_store.h"

struct pg_conn;

class PgResultsStore : public ResultsStore {
public:
    // Connects and makes the tables when they are missing. Null with *error set (one line).
    static std::unique_ptr<PgResultsStore> Open(const std::string& url, std::string* error);
    ~PgResultsStore() override;
    PgResultsStore(const PgResultsStore&) = delete;
    PgResultsStore& operator=(const PgResultsStore&) = delete;

    bool Add(const JobRecord& record, std::string* error) override;
    bool Load(const ResultsFilter& filter, std::vector<JobRecord>* records,
              std::string* error) override;
    bool Connected() const override;

private:
    explicit PgResultsStore(pg_conn* conn) : conn_(conn) {}
    bool Command(const char* sql, std::string* error);
    pg_conn* conn_;
};
