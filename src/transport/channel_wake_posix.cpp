#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <mutex>

#include "transport/channel_wake.h"
#include "transport/channels.h"

namespace {

// One pipe per channel, made once and kept for the life of the process.
struct WakePipes {
    std::array<std::array<int, 2>, kChannels> fds{};
    WakePipes() {
        for (auto& p : fds) {
            if (::pipe(p.data()) != 0) {
                p = {-1, -1};
                continue;
            }
            for (int fd : p) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
        }
    }
    ~WakePipes() {
        for (auto& p : fds)
            for (int fd : p)
                if (fd >= 0) ::close(fd);
    }
};

WakePipes& Pipes() {
    static WakePipes pipes;
    return pipes;
}

}  // namespace

void CHANNEL_WAKE_Wait(int channel, int fd, std::int64_t maxMicros) {
    if (!IsChannel(channel) || maxMicros <= 0) return;
    pollfd fds[2];
    int n = 0;
    if (fd >= 0) fds[n++] = pollfd{fd, POLLIN, 0};
    const int wake = Pipes().fds[channel][0];
    if (wake >= 0) fds[n++] = pollfd{wake, POLLIN, 0};
    const int timeoutMs = static_cast<int>((maxMicros + 999) / 1000);
    int r;
    do {
        r = ::poll(fds, n, timeoutMs);
    } while (r < 0 && errno == EINTR);
}

void CHANNEL_WAKE_Signal(int channel) {
    if (!IsChannel(channel)) return;
    const int fd = Pipes().fds[channel][1];
    if (fd < 0) return;
    const char one = 1;
    [[maybe_unused]] ssize_t r = ::write(fd, &one, 1);
}

void CHANNEL_WAKE_Clear(int channel) {
    if (!IsChannel(channel)) return;
    const int fd = Pipes().fds[channel][0];
    if (fd < 0) return;
    char buf[64];
    while (::read(fd, buf, sizeof buf) > 0) {
    }
}
