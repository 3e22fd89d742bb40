#pragma once
// A port on one POSIX descriptor (a tty or one end of a socket pair). Reads never wait, writes
// are bounded by SERIAL_WriteBoundMs(). Not for use above the transport layer.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <span>

#include "transport/port_device.h"
#include "transport/unique_fd.h"

class FdPortDevice : public PortDevice {
public:
    enum class Kind { kTty, kSocket };

    // fd must be non-blocking.
    FdPortDevice(UniqueFd fd, Kind kind) : fd_(std::move(fd)), kind_(kind) {}

    int Read(std::span<std::uint8_t> into) override;
    int Write(std::span<const std::uint8_t> bytes) override;
    int WaitReadable(std::chrono::milliseconds bound) override;
    int PollFd() const override { return fd_.get(); }
    void Close() override;

protected:
    int fd() const { return fd_.get(); }
    // The line's part of Close, run once; reads and writes already fail.
    virtual void CloseLine() {}

private:
    UniqueFd fd_;
    Kind kind_;
    std::atomic<bool> closed_{false};
};
