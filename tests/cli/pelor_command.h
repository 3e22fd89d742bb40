#pragma once
// The pelor program run as a user runs it, for the command tests: in the test's folder, each
// argument quoted, nothing on stdin, stdout and stderr to files that are read back; or started
// in the background, to be signalled and waited for.
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct PelorRun {
    int status = -1;  // the exit status, -1 when it did not exit normally
    std::string out;
    std::string err;  // empty when stderr went into out
};

inline std::string Slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs PELOR_EXE with args in dir. environment is put before the command as it stands
// ("XDG_DATA_HOME='/x'"); errIntoOut sends stderr where stdout goes.
inline PelorRun RunPelor(const std::filesystem::path& dir, const std::vector<std::string>& args,
                         const std::string& environment = "", bool errIntoOut = false) {
    std::string cmd = "cd '" + dir.string() + "' && " + environment +
                      (environment.empty() ? "" : " ") + "'" PELOR_EXE "'";
    for (const auto& a : args) cmd += " '" + a + "'";
    const std::string out = (dir / "out.txt").string();
    const std::string err = (dir / "err.txt").string();
    cmd +=
        " >'" + out + "' " + (errIntoOut ? std::string("2>&1") : "2>'" + err + "'") + " </dev/null";
    PelorRun r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Slurp(out);
    if (!errIntoOut) r.err = Slurp(err);
    return r;
}

// Starts PELOR_EXE with args in dir, its stdout to dir/NAME.txt and stderr to dir/NAME.err, with
// the variables of environment set (name, value).
inline pid_t StartPelor(const std::filesystem::path& dir, const std::vector<std::string>& args,
                        const std::string& name = "out",
                        const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        std::FILE* out = std::freopen((dir / (name + ".txt")).c_str(), "w", stdout);
        std::FILE* err = std::freopen((dir / (name + ".err")).c_str(), "w", stderr);
        if (out == nullptr || err == nullptr) ::_exit(126);
        for (const auto& [variable, value] : environment)
            ::setenv(variable.c_str(), value.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(PELOR_EXE));
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(PELOR_EXE, argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits for a program StartPelor started to end, at most bound: its exit status, -2 when a
// signal ended it, -1 when it did not end (it is killed then).
inline int WaitPelor(pid_t pid, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

// Waits (in 2 ms passes) until done holds, at most bound.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
