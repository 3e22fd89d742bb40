#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "sim/sim_pty.h"

namespace {

int Fail(std::string& error, const char* step) {
    error = std::string(step) + ": " + std::strerror(errno);
    return 0;
}

}  // namespace

int SIM_OpenPty(SimFd& master, std::string& slavePath, std::string& error) {
    SimFd fd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) return Fail(error, "posix_openpt");
    if (::grantpt(fd.get()) != 0) return Fail(error, "grantpt");
    if (::unlockpt(fd.get()) != 0) return Fail(error, "unlockpt");
    std::array<char, 128> name{};
    if (::ptsname_r(fd.get(), name.data(), name.size()) != 0) return Fail(error, "ptsname");

    // The line discipline sits on the slave side; its settings are reached through the master.
    termios tio{};
    if (::tcgetattr(fd.get(), &tio) != 0) return Fail(error, "tcgetattr");
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd.get(), TCSANOW, &tio) != 0) return Fail(error, "tcsetattr");

    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
        return Fail(error, "fcntl");
    }
    master = std::move(fd);
    slavePath = name.data();
    return 1;
}
