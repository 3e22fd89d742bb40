#pragma once
// A program the command line starts and must stop again: the benches of `pelor demo --line` and
// the programs of its throw-away PostgreSQL server. POSIX only.
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/types.h>

struct ChildCommand {
    std::vector<std::string> argv;  // argv[0] is the program's path
    std::string dir;                // its working folder; empty = ours
    std::vector<std::pair<std::string, std::string>> environment;  // set (or replaced) in it
    std::string out;  // its stdout and stderr go to this file; empty = /dev/null
    // Run as this user and group (only when we are root); -1 = as we are.
    long uid = -1;
    long gid = -1;
    // Sent to it when the thread that started it ends (we were killed): a bench must not
    // outlive the demo. 0 = none.
    int parentDeathSignal = 0;
};

// In a process group of its own, so that a Ctrl-C at the terminal reaches only us and we stop
// it in our own order. Reaped by whoever asks about it; killed and reaped when destroyed.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False with error when it could not be started (the program missing or not executable).
    bool Start(const ChildCommand& command, std::string* error);
    pid_t Pid() const { return pid_; }
    // True while it runs (started and not yet ended).
    bool Running();
    // Its exit status once ended: 0..255, or 128 + the signal that ended it; -1 before.
    int Status() const { return status_; }
    // Waits in passes of a few milliseconds until it ends, at most bound; true when it ended.
    bool Wait(std::chrono::milliseconds bound);
    // Sends it a signal while it runs.
    void Signal(int signal);
    // Ends it within the bounds: SIGTERM, after `gentle` SIGTERM again (a bench's second
    // request stops its running jobs), after `firm` more SIGKILL. True when it ended before the
    // SIGKILL.
    bool Stop(std::chrono::milliseconds gentle, std::chrono::milliseconds firm);

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

// The path of the program running now (to start more of itself); empty when unknown.
std::string CLI_OwnProgramPath();
#endif
