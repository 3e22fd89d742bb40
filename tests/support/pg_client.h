#pragma once
// For the tests against a real server: the test's own session with it, to do what another
// client of the line's server may do (hold the jobs table locked, make a database read-only)
// and to look at what the station's sessions are doing.
#ifdef PELOR_HAVE_LIBPQ
#include <libpq-fe.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

class PgClient {
public:
    explicit PgClient(const std::string& url) : conn_(PQconnectdb(url.c_str())) {}
    ~PgClient() { PQfinish(conn_); }
    PgClient(const PgClient&) = delete;
    PgClient& operator=(const PgClient&) = delete;
    bool Ok() const { return PQstatus(conn_) == CONNECTION_OK; }
    std::string Error() const { return PQerrorMessage(conn_); }
    // Runs sql; the first column of the first row ("" when none), or "ERROR: ..." on failure.
    std::string Exec(const std::string& sql) {
        PGresult* r = PQexec(conn_, sql.c_str());
        const ExecStatusType status = PQresultStatus(r);
        std::string value;
        if (status == PGRES_TUPLES_OK && PQntuples(r) > 0) {
            value = PQgetvalue(r, 0, 0);
        } else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
            value = std::string("ERROR: ") + PQresultErrorMessage(r);
        }
        PQclear(r);
        return value;
    }
    // How many of the station's sessions wait for a lock now. The server keeps what a
    // transaction read of the activity until it ends, and this session may be in one (holding
    // the lock): read afresh each time.
    int StationWaitingOnALock() {
        return std::stoi(
            Exec("SELECT pg_stat_clear_snapshot(); SELECT count(*) FROM pg_stat_activity WHERE "
                 "application_name = 'pelor' AND wait_event_type = 'Lock'"));
    }

    // The payloads of the notifications this session has received (after LISTEN), waiting up
    // to wait (in 5 ms passes) for the first.
    std::vector<std::string> Notifications(std::chrono::milliseconds wait) {
        std::vector<std::string> payloads;
        const auto end = std::chrono::steady_clock::now() + wait;
        for (;;) {
            PQconsumeInput(conn_);
            while (PGnotify* n = PQnotifies(conn_)) {
                payloads.emplace_back(n->extra);
                PQfreemem(n);
            }
            if (!payloads.empty() || std::chrono::steady_clock::now() >= end) return payloads;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

private:
    PGconn* conn_;
};

#endif
