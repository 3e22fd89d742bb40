#pragma once
// What the link needs of a port. Reads never wait; writes are bounded.
// termios, Win32 and the in-process loopback each implement it.
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>

class PortDevice {
public:
    virtual ~PortDevice() = default;
    // >0 bytes stored, 0 nothing queued, -1 the port is dead.
    virtual int Read(std::span<std::uint8_t> into) = 0;
    // Count accepted (may be short), 0 none, -1 on a write error. Bounded by the write time-out.
    virtual int Write(std::span<const std::uint8_t> bytes) = 0;
    // 1 when bytes (or a hang-up) are waiting, 0 when the bound passed without any.
    virtual int WaitReadable(std::chrono::milliseconds bound) = 0;
    // A descriptor that polls readable when bytes arrive, or -1 where there is none.
    virtual int PollFd() const { return -1; }
    // Ends the port's use: what was already handed to it is drained (bounded), the input is
    // discarded and the modem lines are dropped; later reads and writes fail. The platform
    // handle itself is released with the last user.
    virtual void Close() {}
};

// An open port. Shared so that a close from another thread never pulls the port
// from under a read or write in flight: the device is released with its last user.
using SerialHandle = std::shared_ptr<PortDevice>;
