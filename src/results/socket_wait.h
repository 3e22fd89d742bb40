#pragma once
// Waiting for a server connection's socket, the one piece of the results code that differs
// between platforms (socket_wait_posix.cpp, socket_wait_win32.cpp).
#include <chrono>

// Waits up to bound until socket can be read (or, with forWrite, written). 1 ready, 0 the bound
// passed, -1 the wait failed.
int RESULTS_WaitSocket(int socket, bool forWrite, std::chrono::milliseconds bound);
