#pragma once
// A PostgreSQL server made for one run of `pelor demo --line` and removed after it: a new
// cluster in a temporary folder, reachable only through a Unix socket in that folder (no TCP),
// logins trusted (only this user, and root, can enter the folder). When we are root the server
// runs as an unprivileged user (postgres, else nobody), as it refuses to run as root. POSIX only.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32

struct ThrowawayPostgresOptions {
    std::string programsRoot = "/usr/lib/postgresql";  // VERSION/bin/{initdb,pg_ctl} below it
    // Where its folder is made; empty = the system's temporary folder, /tmp as root (the
    // server's user must reach it).
    std::string tempRoot;
    std::chrono::milliseconds startBound{60000};  // making the cluster, then starting it
    std::chrono::milliseconds stopBound{15000};
};

class ThrowawayPostgres {
public:
    explicit ThrowawayPostgres(ThrowawayPostgresOptions options = {});
    // Stops the server and removes its folder.
    ~ThrowawayPostgres();
    ThrowawayPostgres(const ThrowawayPostgres&) = delete;
    ThrowawayPostgres& operator=(const ThrowawayPostgres&) = delete;

    // The folder of the newest installed version's server programs; empty when none is.
    static std::string FindPrograms(const std::string& programsRoot);

    // Makes the cluster and starts it; false with error (and nothing left behind) when it
    // cannot. cancel, when given, is asked between passes: true gives up early.
    bool Start(std::string* error, const std::function<bool()>& cancel = {});
    // The URL a station records to (`--results`).
    const std::string& Url() const { return url_; }
    const std::string& Folder() const { return folder_; }
    // Stops the server within the stop bound (at worst by killing it) and removes the folder.
    // True when the server stopped in the usual way.
    bool Remove();

private:
    bool RunStep(const std::vector<std::string>& argv, const std::string& log,
                 std::chrono::milliseconds bound, const std::function<bool()>& cancel,
                 std::string* error);

    ThrowawayPostgresOptions options_;
    std::string programs_;
    std::string folder_;
    std::string url_;
    long uid_ = -1;
    long gid_ = -1;
    bool started_ = false;
};

#endif
