#include <poll.h>

#include <cerrno>

#include "results/socket_wait.h"

int RESULTS_WaitSocket(int socket, bool forWrite, std::chrono::milliseconds bound) {
    if (socket < 0) return -1;
    pollfd p{};
    p.fd = socket;
    p.events = static_cast<short>(forWrite ? (POLLOUT | POLLIN) : POLLIN);
    const int n = ::poll(&p, 1, static_cast<int>(bound.count()));
    if (n < 0) return errno == EINTR ? 0 : -1;
    return n > 0 ? 1 : 0;
}
