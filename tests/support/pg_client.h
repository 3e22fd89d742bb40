#pragma once
// For the tests against a real server: the test's own session with it, to do what another
// client of the line's server may do (hold the jobs table locked, make a database read-only)
// and to look at what the station's sessions are doing.
#ifdef PELOR_HAVE_LIBPQ
#include <libpq-fe.h>

#include <string>

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

private:
    PGconn* conn_;
};

#endif
