#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "display_check.h"
#include "transport/unique_fd.h"

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool ConnectUnix(const std::string& path, bool abstract) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path + offset, path.data(), path.size());
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    return ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), length) == 0;
}

// A TCP display on this machine (ssh's forwarding listens on localhost:6010 and up).
bool ConnectLoopback(int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
        return true;
    if (errno != EINPROGRESS) return false;
    pollfd p{fd.get(), POLLOUT, 0};
    if (::poll(&p, 1, 1000) != 1) return false;
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

}  // namespace

bool STATION_DisplayAvailable(std::string* why) {
    const std::string platform = Env("QT_QPA_PLATFORM");
    for (const char* headless : {"offscreen", "minimal", "vnc", "linuxfb", "eglfs"}) {
        if (platform.rfind(headless, 0) == 0) return true;
    }
    const std::string wayland = Env("WAYLAND_DISPLAY");
    if (!wayland.empty()) {
        const std::string socket =
            wayland[0] == '/' ? wayland : Env("XDG_RUNTIME_DIR") + "/" + wayland;
        struct stat st {};
        if (::stat(socket.c_str(), &st) == 0) return true;
    }
    const std::string display = Env("DISPLAY");
    if (display.empty()) {
        if (why != nullptr) {
            *why = wayland.empty() ? "DISPLAY is not set" : "no Wayland socket " + wayland;
        }
        return false;
    }
    // [host]:number[.screen]
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos) return true;  // a form the toolkit may know better
    const std::string host = display.substr(0, colon);
    const int number = std::atoi(display.c_str() + colon + 1);
    bool answered = true;
    if (host.empty() || host == "unix") {
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        answered = ConnectUnix(socket, false) || ConnectUnix(socket, true);
    } else if (host == "localhost" || host == "127.0.0.1") {
        answered = ConnectLoopback(6000 + number);
    }
    if (!answered && why != nullptr) *why = "nothing answers on display " + display;
    return answered;
}

std::string STATION_NoDisplayText(const std::string& why) {
    return "pelor-station: no display can be opened here (" + why +
           "): start it at the bench's screen or with a forwarded display (ssh -X), or use the "
           "station without its window, `pelor` (`pelor flash --help`)\n";
}
