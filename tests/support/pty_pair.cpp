#include "support/pty_pair.h"

#if !defined(_WIN32)

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace {

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

}  // namespace

PtyPair::PtyPair() {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0) return;
    std::array<char, 128> name{};
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 ||
        ::ptsname_r(fd, name.data(), name.size()) != 0 || ::fcntl(fd, F_SETFD, FD_CLOEXEC) < 0 ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) < 0) {
        ::close(fd);
        return;
    }
    master_ = fd;
    slavePath_ = name.data();
}

PtyPair::~PtyPair() {
    CloseMaster();
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

std::size_t PtyPair::WriteMaster(std::span<const std::uint8_t> bytes,
                                 std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    std::size_t done = 0;
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) break;
        const int left = MsUntil(deadline);
        if (left == 0) break;
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, std::min(left, 10));
    }
    return done;
}

std::vector<std::uint8_t> PtyPair::ReadMaster(std::size_t count, std::chrono::milliseconds bound) {
    const auto deadline = Clock::now() + bound;
    std::vector<std::uint8_t> got;
    std::array<std::uint8_t, 4096> chunk{};
    while (master_ >= 0 && got.size() < count) {
        const ssize_t n = ::read(master_, chunk.data(), std::min(chunk.size(), count - got.size()));
        if (n > 0) {
            got.insert(got.end(), chunk.begin(), chunk.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno != EAGAIN) break;  // EIO: the slave side closed, nothing left
        const int left = MsUntil(deadline);
        if (left == 0) break;
        pollfd p{master_, POLLIN, 0};
        ::poll(&p, 1, std::min(left, 10));
    }
    return got;
}

#endif

std::vector<std::uint8_t> AllByteValues(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}
