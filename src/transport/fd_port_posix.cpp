#include "transport/fd_port_posix.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "transport/serial_backend.h"

namespace {

using Clock = std::chrono::steady_clock;

int PollOnce(int fd, short events, int timeoutMs, short* revents) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        *revents = r > 0 ? p.revents : 0;
        return r;
    }
}

// Whole milliseconds left until deadline, rounded up so a wait never ends early.
int MsUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

}  // namespace

int FdPortDevice::Read(std::span<std::uint8_t> into) {
    if (closed_.load(std::memory_order_acquire)) return -1;
    if (into.empty()) return 0;
    const int fd = fd_.get();

    int queued = 0;
    if (::ioctl(fd, FIONREAD, &queued) < 0) return -1;  // a hung-up tty answers EIO
    std::size_t want = std::min(into.size(), static_cast<std::size_t>(std::max(queued, 0)));
    if (want == 0) {
        // Nothing counted: either nothing arrived, or the other end is gone.
        short revents = 0;
        const int r = PollOnce(fd, POLLIN, 0, &revents);
        if (r < 0) return -1;
        if (r == 0) return 0;
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) return -1;
        if (!(revents & POLLIN)) return 0;
        // Readable with nothing counted is end of file, unless bytes came in just now.
        want = into.size();
    }
    for (;;) {
        const ssize_t n = ::read(fd, into.data(), want);
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return -1;  // end of file: the peer hung up
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

int FdPortDevice::Write(std::span<const std::uint8_t> bytes) {
    if (closed_.load(std::memory_order_acquire)) return -1;
    if (bytes.empty()) return 0;
    const int fd = fd_.get();
    const auto deadline = Clock::now() + std::chrono::milliseconds(SERIAL_WriteBoundMs());

    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::uint8_t* from = bytes.data() + done;
        const std::size_t count = bytes.size() - done;
        ssize_t n;
        if (kind_ == Kind::kSocket) {
#if defined(MSG_NOSIGNAL)
            n = ::send(fd, from, count, MSG_NOSIGNAL);
#else
            n = ::send(fd, from, count, 0);
#endif
        } else {
            n = ::write(fd, from, count);
        }
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;

        // No room: wait for some, within what is left of the bound.
        const int leftMs = MsUntil(deadline);
        if (leftMs == 0) break;
        short revents = 0;
        const int r = PollOnce(fd, POLLOUT, leftMs, &revents);
        if (r < 0) return -1;
        if (r > 0 && !(revents & POLLOUT) && (revents & (POLLERR | POLLHUP | POLLNVAL))) return -1;
    }
    return static_cast<int>(done);
}

int FdPortDevice::WaitReadable(std::chrono::milliseconds bound) {
    if (closed_.load(std::memory_order_acquire)) return 1;  // the next read reports it
    const auto deadline = Clock::now() + bound;
    for (;;) {
        short revents = 0;
        const int r = PollOnce(fd_.get(), POLLIN, MsUntil(deadline), &revents);
        if (r != 0) return 1;  // bytes, a hang-up or an error: the next read tells which
        if (MsUntil(deadline) == 0) return 0;
    }
}

void FdPortDevice::Close() {
    if (closed_.exchange(true, std::memory_order_acq_rel)) return;
    CloseLine();
}
