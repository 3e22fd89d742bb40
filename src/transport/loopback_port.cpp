// In-process loopback ports on socket pairs: the station's end polls like a tty.
#include "transport/loopback_port.h"

#if defined(_WIN32)

// No socket pairs here; the loopback is a POSIX facility.
int LOOPBACK_Create(const std::string&) {
    return -1;
}
void LOOPBACK_Remove(const std::string&) {}
SerialHandle LOOPBACK_Open(const std::string&) {
    return nullptr;
}
bool LOOPBACK_Exists(const std::string&) {
    return false;
}
unsigned long long LOOPBACK_Generation(const std::string&) {
    return 0;
}

#else

#include <fcntl.h>
#include <sys/socket.h>

#include <map>
#include <memory>
#include <mutex>

#include "transport/fd_port_posix.h"
#include "transport/unique_fd.h"

namespace {

// Station ends by name. Used by the front end, the simulator and the workers: guarded.
std::mutex g_loopMutex;
std::map<std::string, UniqueFd> g_loopPorts;
// Which plugging-in the registered end is: every LOOPBACK_Create takes the next number.
std::map<std::string, unsigned long long> g_loopGenerations;
unsigned long long g_lastGeneration = 0;

}  // namespace

int LOOPBACK_Create(const std::string& name) {
    if (name.empty()) return -1;
    int fds[2] = {-1, -1};
#if defined(SOCK_CLOEXEC)
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) < 0) return -1;
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) < 0) return -1;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
    UniqueFd station(fds[0]);
    UniqueFd peer(fds[1]);
#if defined(SO_NOSIGPIPE)
    int one = 1;
    ::setsockopt(station.get(), SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
    // O_NONBLOCK lives in the open file, so every duplicate handed out shares it.
    const int flags = ::fcntl(station.get(), F_GETFL);
    if (flags < 0 || ::fcntl(station.get(), F_SETFL, flags | O_NONBLOCK) < 0) return -1;

    std::lock_guard<std::mutex> lock(g_loopMutex);
    g_loopPorts[name] = std::move(station);
    g_loopGenerations[name] = ++g_lastGeneration;
    return peer.release();
}

void LOOPBACK_Remove(const std::string& name) {
    UniqueFd gone;  // closed after the lock is let go
    std::lock_guard<std::mutex> lock(g_loopMutex);
    auto it = g_loopPorts.find(name);
    if (it == g_loopPorts.end()) return;
    gone = std::move(it->second);
    g_loopPorts.erase(it);
    g_loopGenerations.erase(name);
}

unsigned long long LOOPBACK_Generation(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_loopMutex);
    const auto it = g_loopGenerations.find(name);
    return it == g_loopGenerations.end() ? 0 : it->second;
}

bool LOOPBACK_Exists(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_loopMutex);
    return g_loopPorts.count(name) != 0;
}

SerialHandle LOOPBACK_Open(const std::string& name) {
    UniqueFd fd;
    {
        std::lock_guard<std::mutex> lock(g_loopMutex);
        auto it = g_loopPorts.find(name);
        if (it == g_loopPorts.end()) return nullptr;
        fd.reset(::fcntl(it->second.get(), F_DUPFD_CLOEXEC, 0));
    }
    if (!fd) return nullptr;
    return std::make_shared<FdPortDevice>(std::move(fd), FdPortDevice::Kind::kSocket);
}

#endif
