#include <winsock2.h>

#include "results/socket_wait.h"

int RESULTS_WaitSocket(int socket, bool forWrite, std::chrono::milliseconds bound) {
    if (socket < 0) return -1;
    // The client library hands out its SOCKET as an int.
    const SOCKET s = static_cast<SOCKET>(socket);
    fd_set readable;
    fd_set writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_SET(s, &readable);
    if (forWrite) FD_SET(s, &writable);
    timeval t{};
    t.tv_sec = static_cast<long>(bound.count() / 1000);
    t.tv_usec = static_cast<long>(bound.count() % 1000 * 1000);
    const int n = ::select(0, &readable, forWrite ? &writable : nullptr, nullptr, &t);
    if (n == SOCKET_ERROR) return -1;
    return n > 0 ? 1 : 0;
}
