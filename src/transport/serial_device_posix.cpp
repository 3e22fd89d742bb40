// The serial device on POSIX ttys, through termios. Works on real ports and on
// pseudo-terminals; where a pty refuses what a real port accepts (modem lines), that is no
// failure.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "transport/fd_port_posix.h"
#include "transport/serial_backend.h"
#include "transport/serial_speed_posix.h"
#include "transport/trace.h"
#include "transport/unique_fd.h"

namespace {

using Clock = std::chrono::steady_clock;

class TtyPort final : public FdPortDevice {
public:
    explicit TtyPort(UniqueFd fd) : FdPortDevice(std::move(fd), Kind::kTty) {}
    // Hand the tty back without the exclusive flag; the descriptor (and its lock) goes next.
    ~TtyPort() override { ::ioctl(fd(), TIOCNXCL); }

protected:
    void CloseLine() override {
        const int fd = this->fd();
        // What was already handed to the port must still reach the peer.
        const auto deadline = Clock::now() + std::chrono::milliseconds(SERIAL_DrainBoundMs());
        bool drained = false;
        for (;;) {
            int pending = 0;
            if (::ioctl(fd, TIOCOUTQ, &pending) < 0 || pending <= 0) {
                drained = true;
                break;
            }
            if (Clock::now() >= deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // Output that would not leave within the bound is dropped, so the close that follows
        // does not wait on it again.
        ::tcflush(fd, drained ? TCIFLUSH : TCIOFLUSH);
        int dtr = TIOCM_DTR;
        ::ioctl(fd, TIOCMBIC, &dtr);
        int rts = TIOCM_RTS;
        ::ioctl(fd, TIOCMBIC, &rts);
    }
};

std::string ReasonFor(int error) {
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return "no such device";
        case EACCES:
        case EPERM:
        case EROFS:
            return "permission denied";
        case EBUSY:
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return "busy: held by another program";
        case ENOTTY:
            return "not a serial port";
        default: {
            std::string text = std::generic_category().message(error);
            if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] += 'a' - 'A';
            return text;
        }
    }
}

SerialHandle Fail(SerialOpenFailure* failure, SerialOpenStage stage, int code,
                  std::string reason = std::string()) {
    if (failure) {
        failure->stage = stage;
        failure->code = code;
        failure->reason = reason.empty() ? ReasonFor(code) : std::move(reason);
    }
    return nullptr;
}

// Raw 8N1 binary line; flow control and modem lines stay as the driver has them.
void MakeRaw(termios* tio) {
    tio->c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                           ICRNL | IXON | IXOFF | IXANY | INPCK);
    tio->c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio->c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio->c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio->c_cflag |= CS8 | CLOCAL | CREAD;
    tio->c_cc[VMIN] = 0;
    tio->c_cc[VTIME] = 0;
}

bool IsRaw(const termios& tio) {
    return (tio.c_cflag & CSIZE) == CS8 && !(tio.c_cflag & (PARENB | CSTOPB)) &&
           !(tio.c_iflag & (ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF)) &&
           !(tio.c_oflag & OPOST) && !(tio.c_lflag & (ICANON | ECHO | ISIG));
}

}  // namespace

SerialHandle SERIAL_BACKEND_Open(int /*channel*/, const std::string& path, int baudRate,
                                 SerialOpenFailure* failure) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) return Fail(failure, SerialOpenStage::kCreate, errno);

    // Exclusive before anything is changed: a lock that another holder (in this process or
    // another) already has means busy; then no further opens of the tty at all.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) < 0 && (errno == EWOULDBLOCK || errno == EAGAIN)) {
        return Fail(failure, SerialOpenStage::kCreate, EBUSY);
    }
    if (::ioctl(fd.get(), TIOCEXCL) < 0) return Fail(failure, SerialOpenStage::kCreate, errno);
    auto port = std::make_shared<TtyPort>(std::move(fd));
    const int tty = port->PollFd();

    termios tio{};
    if (::tcgetattr(tty, &tio) < 0) return Fail(failure, SerialOpenStage::kSettings, errno);
    MakeRaw(&tio);
    if (::tcsetattr(tty, TCSANOW, &tio) < 0) {
        return Fail(failure, SerialOpenStage::kSettings, errno);
    }

    const std::string refused = "bit rate " + std::to_string(baudRate) + " refused";
    if (!SERIAL_POSIX_SetSpeed(tty, baudRate)) {
        return Fail(failure, SerialOpenStage::kSettings, errno, refused);
    }
    const int actual = SERIAL_POSIX_ReadBackSpeed(tty);
    DBG_Trace("[%s] bit rate %d asked, driver reports %d\n", path.c_str(), baudRate, actual);
    if (!SERIAL_SpeedWithinTolerance(baudRate, actual)) {
        return Fail(
            failure, SerialOpenStage::kSettings, EINVAL,
            actual > 0 ? refused + " (driver set " + std::to_string(actual) + ")" : refused);
    }
    termios check{};
    if (::tcgetattr(tty, &check) < 0 || !IsRaw(check)) {
        return Fail(failure, SerialOpenStage::kSettings, EINVAL, "line settings refused");
    }

    ::tcflush(tty, TCIOFLUSH);
    return port;
}
