#pragma once
// A line's shared store: the jobs of every station on one PostgreSQL server, reached through
// libpq in a session whose every wait is bounded (pg_session.h). Rows are keyed by their job
// id, so sending one twice leaves one row.
#include <atomic>
#include <memory>
#include <string>

#include "results/pg_session.h"
#include "results/results_store.h"

class PgResultsStore : public ServerResultsStore {
public:
    // Connects and makes the tables when they are missing. Null with *error set (one line, the
    // target masked).
    static std::unique_ptr<PgResultsStore> Open(const std::string& url, std::string* error,
                                                const ServerLimits& limits = {},
                                                const std::atomic<bool>* stop = nullptr);

    SendVerdict Send(const JobRecord& record, std::string* error) override;
    bool Load(const ResultsFilter& filter, std::vector<JobRecord>* records,
              std::string* error) override;
    // Counted and grouped by the server: a line's whole record is read without sending its rows.
    bool Summarise(const ResultsFilter& filter, ResultsSummary* summary,
                   std::string* error) override;
    bool Connected() const override;

private:
    explicit PgResultsStore(std::unique_ptr<PgSession> session) : session_(std::move(session)) {}
    std::unique_ptr<PgSession> session_;
};
