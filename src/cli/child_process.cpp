#include "child_process.h"

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

// Everything the child needs is made before the fork: between fork and exec it may only call
// what is safe there (no allocation), as other threads may hold the allocator's lock.
struct Prepared {
    std::vector<std::string> environment;
    std::vector<char*> argv;
    std::vector<char*> envp;
};

Prepared Prepare(const ChildCommand& command) {
    Prepared p;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& [name, value] : command.environment) {
            replaced = replaced || entry.rfind(name + "=", 0) == 0;
        }
        if (!replaced) p.environment.push_back(entry);
    }
    for (const auto& [name, value] : command.environment)
        p.environment.push_back(name + "=" + value);
    for (const std::string& a : command.argv) p.argv.push_back(const_cast<char*>(a.c_str()));
    p.argv.push_back(nullptr);
    for (std::string& e : p.environment) p.envp.push_back(e.data());
    p.envp.push_back(nullptr);
    return p;
}

[[noreturn]] void Fail(int fd, int step) {
    const int code[2] = {step, errno};
    if (::write(fd, code, sizeof code) < 0) {
    }
    ::_exit(127);
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (Running()) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

bool ChildProcess::Start(const ChildCommand& command, std::string* error) {
    if (command.argv.empty()) {
        if (error != nullptr) *error = "no program to start";
        return false;
    }
    Prepared p = Prepare(command);
    const std::string out = command.out.empty() ? "/dev/null" : command.out;
    // The child reports a failure before its exec through this pipe; a successful exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        if (error != nullptr)
            *error = std::string("cannot start a program: ") + std::strerror(errno);
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(report[0]);
        ::close(report[1]);
        if (error != nullptr)
            *error = std::string("cannot start a program: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        ::close(report[0]);
        ::setpgid(0, 0);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        // What we ignore (a pipe gone away) it must not inherit.
        std::signal(SIGPIPE, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
        if (command.gid >= 0 && ::getuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(static_cast<gid_t>(command.gid)) != 0)
                Fail(report[1], 1);
        }
        if (command.uid >= 0 && ::getuid() == 0 && ::setuid(static_cast<uid_t>(command.uid)) != 0)
            Fail(report[1], 1);
        if (!command.dir.empty() && ::chdir(command.dir.c_str()) != 0) Fail(report[1], 2);
        const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        const int in = ::open("/dev/null", O_RDONLY);
        if (fd < 0 || in < 0) Fail(report[1], 3);
        ::dup2(in, 0);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        if (command.parentDeathSignal != 0) {
            ::prctl(PR_SET_PDEATHSIG, command.parentDeathSignal);
            // We may have ended before the line above: then nobody is left to stop it.
            if (::getppid() != parent) ::_exit(127);
        }
        ::execve(p.argv[0], p.argv.data(), p.envp.data());
        Fail(report[1], 4);
    }
    ::close(report[1]);
    int code[2] = {0, 0};
    ssize_t n;
    do {
        n = ::read(report[0], code, sizeof code);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    pid_ = pid;
    status_ = -1;
    if (n == static_cast<ssize_t>(sizeof code)) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid_ = -1;
        static const char* const kSteps[] = {"", "cannot take the user to run as",
                                             "cannot enter its folder", "cannot open its log",
                                             "cannot run"};
        if (error != nullptr) {
            *error = command.argv[0] + ": " + kSteps[code[0]] + ": " + std::strerror(code[1]);
        }
        return false;
    }
    return true;
}

bool ChildProcess::Running() {
    if (pid_ < 0 || status_ >= 0) return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0) return true;
    if (r == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else {
        status_ = 128;  // not ours to wait for any more: taken as ended
    }
    return false;
}

bool ChildProcess::Wait(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (Running()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void ChildProcess::Signal(int signal) {
    if (Running()) ::kill(pid_, signal);
}

bool ChildProcess::Stop(std::chrono::milliseconds gentle, std::chrono::milliseconds firm) {
    if (!Running()) return true;
    Signal(SIGTERM);
    if (Wait(gentle)) return true;
    Signal(SIGTERM);
    if (Wait(firm)) return true;
    Signal(SIGKILL);
    Wait(std::chrono::seconds(5));
    return false;
}

std::string CLI_OwnProgramPath() {
    std::string path(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) return {};
    path.resize(static_cast<std::size_t>(n));
    return path;
}
#endif
