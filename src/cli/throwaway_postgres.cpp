#include "throwaway_postgres.h"

#ifndef _WIN32
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "child_process.h"

namespace {

// "15" < "16", "9.6" < "10": compared part by part as numbers; a name that is not a version
// sorts first.
std::vector<long> VersionParts(const std::string& name) {
    std::vector<long> parts;
    std::stringstream s(name);
    std::string part;
    while (std::getline(s, part, '.')) {
        if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos ||
            part.size() > 6) {
            return {};
        }
        parts.push_back(std::stol(part));
    }
    return parts;
}

bool Executable(const std::filesystem::path& path) {
    return ::access(path.c_str(), X_OK) == 0 && !std::filesystem::is_directory(path);
}

// The last lines of a log, for an error text.
std::string Tail(const std::string& path, int lines) {
    std::ifstream in(path);
    std::vector<std::string> all;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) all.push_back(line);
    }
    std::string text;
    const std::size_t from = all.size() > static_cast<std::size_t>(lines) ? all.size() - lines : 0;
    for (std::size_t i = from; i < all.size(); ++i) text += "\n  " + all[i];
    return text;
}

std::string PercentEncoded(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

// The socket's port number: only its file's name, as no TCP is listened on.
constexpr int kSocketPort = 5432;

}  // namespace

ThrowawayPostgres::ThrowawayPostgres(ThrowawayPostgresOptions options)
    : options_(std::move(options)) {}

ThrowawayPostgres::~ThrowawayPostgres() {
    Remove();
}

std::string ThrowawayPostgres::FindPrograms(const std::string& programsRoot) {
    std::error_code ec;
    std::filesystem::path best;
    std::vector<long> bestVersion;
    for (const auto& entry : std::filesystem::directory_iterator(programsRoot, ec)) {
        const std::vector<long> version = VersionParts(entry.path().filename().string());
        if (version.empty()) continue;
        const std::filesystem::path bin = entry.path() / "bin";
        if (!Executable(bin / "initdb") || !Executable(bin / "pg_ctl")) continue;
        if (best.empty() || version > bestVersion) {
            best = bin;
            bestVersion = version;
        }
    }
    return best.string();
}

bool ThrowawayPostgres::RunStep(const std::vector<std::string>& argv, const std::string& log,
                                std::chrono::milliseconds bound,
                                const std::function<bool()>& cancel, std::string* error) {
    ChildCommand command;
    command.argv = argv;
    command.dir = folder_;
    command.out = log;
    command.uid = uid_;
    command.gid = gid_;
    command.environment = {{"LC_ALL", "C"}, {"PGTZ", "UTC"}};
    ChildProcess step;
    if (!step.Start(command, error)) return false;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (step.Running()) {
        const bool cancelled = cancel && cancel();
        if (cancelled || std::chrono::steady_clock::now() >= deadline) {
            step.Stop(std::chrono::milliseconds(500), std::chrono::milliseconds(500));
            if (error != nullptr) {
                const std::string name = std::filesystem::path(argv[0]).filename().string();
                *error = cancelled ? "interrupted"
                                   : name + " did not finish within " +
                                         std::to_string(bound.count() / 1000) + " s";
            }
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (step.Status() != 0) {
        if (error != nullptr) {
            *error = std::filesystem::path(argv[0]).filename().string() + " failed (status " +
                     std::to_string(step.Status()) + "):" + Tail(log, 6);
        }
        return false;
    }
    return true;
}

bool ThrowawayPostgres::Start(std::string* error, const std::function<bool()>& cancel) {
    programs_ = FindPrograms(options_.programsRoot);
    if (programs_.empty()) {
        if (error != nullptr)
            *error = "no PostgreSQL server programs under " + options_.programsRoot;
        return false;
    }
    // As root the folder is handed to the server's user, who must reach it: TMPDIR may lie in a
    // folder closed to others (a private home), /tmp never is.
    std::filesystem::path temp = options_.tempRoot;
    if (temp.empty()) temp = ::geteuid() == 0 ? "/tmp" : std::filesystem::temp_directory_path();
    std::string pattern = (temp / "pelor-demo-pg-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        if (error != nullptr) *error = "cannot create a folder for the server in " + temp.string();
        return false;
    }
    folder_ = pattern;
    if (::geteuid() == 0) {
        // The server will not run as root: the folder is given to an unprivileged user.
        const passwd* user = ::getpwnam("postgres");
        if (user == nullptr) user = ::getpwnam("nobody");
        if (user == nullptr || ::chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0) {
            if (error != nullptr) *error = "no unprivileged user to run the server as";
            Remove();
            return false;
        }
        uid_ = user->pw_uid;
        gid_ = user->pw_gid;
    }
    ::chmod(folder_.c_str(), 0700);
    const std::string data = folder_ + "/data";
    const auto started = std::chrono::steady_clock::now();
    if (!RunStep({programs_ + "/initdb", "-D", data, "-U", "pelor", "-A", "trust", "-E", "UTF8",
                  "--locale=C", "--no-sync"},
                 folder_ + "/initdb.log", options_.startBound, cancel, error)) {
        Remove();
        return false;
    }
    const auto left =
        std::max(std::chrono::milliseconds(1000),
                 options_.startBound - std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - started));
    // From here the server may run: Remove() stops it whatever happens next.
    started_ = true;
    const std::string serverOptions = "-k '" + folder_ + "' -p " + std::to_string(kSocketPort) +
                                      " -c listen_addresses= -c fsync=off";
    if (!RunStep({programs_ + "/pg_ctl", "-D", data, "-l", folder_ + "/server.log", "-w", "-t",
                  std::to_string(std::max<long long>(1, left.count() / 1000)), "-o", serverOptions,
                  "start"},
                 folder_ + "/pg_ctl.log", left + std::chrono::seconds(5), cancel, error)) {
        if (error != nullptr) *error += Tail(folder_ + "/server.log", 6);
        Remove();
        return false;
    }
    url_ = "postgresql://pelor@/postgres?host=" + PercentEncoded(folder_) +
           "&port=" + std::to_string(kSocketPort);
    return true;
}

bool ThrowawayPostgres::Remove() {
    if (folder_.empty()) return true;
    bool clean = true;
    if (started_) {
        const std::string data = folder_ + "/data";
        std::string error;
        clean = RunStep(
            {programs_ + "/pg_ctl", "-D", data, "-m", "fast", "-w", "-t",
             std::to_string(std::max<long long>(1, options_.stopBound.count() / 1000)), "stop"},
            folder_ + "/pg_ctl.log", options_.stopBound + std::chrono::seconds(2), {}, &error);
        // Not stopped in time (or never asked to start): the server, if it runs, is killed; its
        // processes end when they see it gone.
        std::ifstream pidFile(data + "/postmaster.pid");
        long pid = 0;
        if (pidFile >> pid && pid > 1) {
            clean = false;
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            for (int i = 0; i < 500 && ::kill(static_cast<pid_t>(pid), 0) == 0; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        started_ = false;
    }
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
    folder_.clear();
    url_.clear();
    return clean;
}
#endif
