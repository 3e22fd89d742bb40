#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "transport/channel_wake.h"

ChannelWake::ChannelWake() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    for (int fd : fds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    read_ = fds[0];
    write_ = fds[1];
}

ChannelWake::~ChannelWake() {
    if (read_ >= 0) ::close(read_);
    if (write_ >= 0) ::close(write_);
}

void ChannelWake::Wait(int fd, std::int64_t maxMicros) {
    if (maxMicros <= 0) return;
    pollfd fds[2];
    int n = 0;
    if (fd >= 0) fds[n++] = pollfd{fd, POLLIN, 0};
    if (read_ >= 0) fds[n++] = pollfd{read_, POLLIN, 0};
    const int timeoutMs = static_cast<int>((maxMicros + 999) / 1000);
    int r;
    do {
        r = ::poll(fds, n, timeoutMs);
    } while (r < 0 && errno == EINTR);
}

void ChannelWake::Signal() {
    if (write_ < 0) return;
    const char one = 1;
    [[maybe_unused]] ssize_t r = ::write(write_, &one, 1);
}

void ChannelWake::Clear() {
    if (read_ < 0) return;
    char buf[64];
    while (::read(read_, buf, sizeof buf) > 0) {
    }
}
