#pragma once
// Owns one POSIX descriptor: closed on destruction, on reset and when moved over.
#include <unistd.h>

#include <utility>

class UniqueFd {
    int fd_ = -1;

public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        reset(std::exchange(o.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    void reset(int fd = -1) {
        if (fd_ >= 0 && fd_ != fd) ::close(fd_);
        fd_ = fd;
    }
    int release() { return std::exchange(fd_, -1); }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
};
