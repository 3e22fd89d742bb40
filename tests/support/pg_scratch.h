#pragma once
// A database of the test's own on the test server (PELOR_TEST_PG_URL), dropped at the end: its
// tables, its signals and what a role may do in it are the test's alone.
#ifdef PELOR_HAVE_LIBPQ
#include <cstdlib>
#include <string>

#include "results/job_record.h"
#include "support/pg_client.h"

class ScratchDatabase {
public:
    // Empty Url() when no test server is set.
    ScratchDatabase() {
        const char* url = std::getenv("PELOR_TEST_PG_URL");
        if (url == nullptr || url[0] == '\0') return;
        server_ = url;
        name_ = "line_" + RESULTS_NewJobId().substr(0, 8);
        PgClient admin(server_);
        if (admin.Exec("CREATE DATABASE " + name_).rfind("ERROR", 0) != 0) url_ = With(name_);
    }
    ~ScratchDatabase() {
        if (url_.empty()) return;
        PgClient admin(server_);
        admin.Exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
        for (const std::string& role : roles_) admin.Exec("DROP ROLE IF EXISTS " + role);
    }
    ScratchDatabase(const ScratchDatabase&) = delete;
    ScratchDatabase& operator=(const ScratchDatabase&) = delete;

    const std::string& Url() const { return url_; }
    const std::string& Name() const { return name_; }
    // The database's URL as another role (a role made with MakeRole).
    std::string UrlAs(const std::string& role) const { return With(name_) + "&user=" + role; }
    // A role that may log in, dropped with the database.
    std::string MakeRole(const std::string& suffix) {
        const std::string role = name_ + "_" + suffix;
        PgClient admin(server_);
        admin.Exec("CREATE ROLE " + role + " LOGIN");
        roles_.push_back(role);
        return role;
    }

private:
    // The server's URL naming another database (a later parameter wins).
    std::string With(const std::string& database) const {
        return server_ + (server_.find('?') == std::string::npos ? "?" : "&") +
               "dbname=" + database;
    }
    std::string server_;
    std::string name_;
    std::string url_;
    std::vector<std::string> roles_;
};

// The line's tables as the stations make them.
inline constexpr const char* kLineSocketsTable =
    "CREATE TABLE IF NOT EXISTS pelor_sockets (station text NOT NULL, channel integer NOT NULL, "
    "device text NOT NULL, state text NOT NULL, progress integer NOT NULL, text text NOT NULL, "
    "fail_step text NOT NULL, fail_reason text NOT NULL, suspect text NOT NULL, "
    "job_started_at timestamptz, updated_at timestamptz NOT NULL DEFAULT now(), "
    "PRIMARY KEY (station, channel))";

#endif
