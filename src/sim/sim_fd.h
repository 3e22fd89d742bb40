#pragma once
// A descriptor that closes itself; the simulated handset's own, so that it depends on nothing
// above it.
#include <unistd.h>

#include <utility>

class SimFd {
public:
    explicit SimFd(int fd = -1) : fd_(fd) {}
    SimFd(SimFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    SimFd& operator=(SimFd&& o) noexcept {
        reset(std::exchange(o.fd_, -1));
        return *this;
    }
    SimFd(const SimFd&) = delete;
    SimFd& operator=(const SimFd&) = delete;
    ~SimFd() { reset(); }

    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};
