#include "transport/serial_speed_posix.h"

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace {
std::atomic<SpeedReadBackFn> g_SpeedReadBack{nullptr};
}  // namespace

bool SERIAL_SpeedWithinTolerance(int requested, int actual) {
    if (requested <= 0 || actual <= 0) return false;
    const std::int64_t diff = static_cast<std::int64_t>(actual) - requested;
    // |actual - requested| <= 2.5% of requested, in integers: 40 * |diff| <= requested.
    return 40 * (diff < 0 ? -diff : diff) <= requested;
}

void SERIAL_POSIX_SetSpeedReadBack(SpeedReadBackFn fn) {
    g_SpeedReadBack = fn;
}

int SERIAL_POSIX_ReadBackSpeed(int fd) {
    SpeedReadBackFn fn = g_SpeedReadBack.load();
    return fn ? fn(fd) : SERIAL_POSIX_GetSpeed(fd);
}

#if defined(__linux__)

#include <asm/termbits.h>
#include <sys/ioctl.h>

int SERIAL_POSIX_SetSpeed(int fd, int baud) {
    if (baud <= 0) {
        errno = EINVAL;
        return 0;
    }
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) < 0) return 0;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ospeed = static_cast<speed_t>(baud);
    tio.c_ispeed = static_cast<speed_t>(baud);
    return ::ioctl(fd, TCSETS2, &tio) < 0 ? 0 : 1;
}

int SERIAL_POSIX_GetSpeed(int fd) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) < 0) return -1;
    // An input rate of its own that differs from the output rate is not the rate asked for.
    if (((tio.c_cflag >> IBSHIFT) & CBAUD) != 0 && tio.c_ispeed != tio.c_ospeed) return -1;
    return static_cast<int>(tio.c_ospeed);
}

#else

#include <termios.h>

#include <array>
#include <utility>

namespace {

#if defined(__APPLE__) || defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__)
// speed_t is the bit rate itself.
bool ToSpeed(int baud, speed_t* out) {
    *out = static_cast<speed_t>(baud);
    return true;
}
int FromSpeed(speed_t s) {
    return static_cast<int>(s);
}
#else
constexpr std::array<std::pair<int, speed_t>, 10> kRates{{{9600, B9600},
                                                          {19200, B19200},
                                                          {38400, B38400},
                                                          {57600, B57600},
                                                          {115200, B115200},
                                                          {1200, B1200},
                                                          {2400, B2400},
                                                          {4800, B4800},
                                                          {300, B300},
                                                          {600, B600}}};
bool ToSpeed(int baud, speed_t* out) {
    for (const auto& [rate, s] : kRates) {
        if (rate == baud) {
            *out = s;
            return true;
        }
    }
    return false;
}
int FromSpeed(speed_t s) {
    for (const auto& [rate, code] : kRates) {
        if (code == s) return rate;
    }
    return -1;
}
#endif

}  // namespace

int SERIAL_POSIX_SetSpeed(int fd, int baud) {
    speed_t s{};
    if (baud <= 0 || !ToSpeed(baud, &s)) {
        errno = EINVAL;
        return 0;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) < 0) return 0;
    if (::cfsetispeed(&tio, s) < 0 || ::cfsetospeed(&tio, s) < 0) return 0;
    return ::tcsetattr(fd, TCSANOW, &tio) < 0 ? 0 : 1;
}

int SERIAL_POSIX_GetSpeed(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) < 0) return -1;
    if (::cfgetispeed(&tio) != ::cfgetospeed(&tio)) return -1;
    return FromSpeed(::cfgetospeed(&tio));
}

#endif
