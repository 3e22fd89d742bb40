#pragma once
// A simulated handset on a line: the download agent of sim_agent.h served by a background
// thread on a descriptor, either one end of a socket pair (the station's loopback port) or the
// master of a pseudo-terminal the handset creates (the station opens DevicePath() like a serial
// port). Optionally paced like a UART of the given bit rate, with the flash latencies and the
// faults of the options.
//
// Everything here may be called from any thread while the handset runs, except that Stop,
// Unplug and the destructor belong to its owner (one thread at a time).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_agent.h"
#include "sim/sim_fd.h"
#include "sim/uart_pacer.h"

class SimHandset {
    class Key {
        Key() = default;
        friend class SimHandset;
    };

public:
    using Options = SimOptions;

    // Serves the agent on fd (a connected socket or a terminal), taking ownership of it. Null
    // when fd is invalid or the thread cannot start (fd is then closed).
    static std::unique_ptr<SimHandset> StartOnFd(int fd, Options options);
    // Creates a pseudo-terminal and serves the agent on its master. Null, with error set when
    // error is not null, when the pseudo-terminal or the thread cannot be had.
    static std::unique_ptr<SimHandset> StartOnPty(Options options, std::string* error);

    SimHandset(Key, SimFd line, std::string devicePath, SimFd wakeRead, SimFd wakeWrite,
               Options options);
    ~SimHandset();
    SimHandset(const SimHandset&) = delete;
    SimHandset& operator=(const SimHandset&) = delete;

    // The slave's path (/dev/pts/N) for the station; empty when serving a descriptor.
    const std::string& DevicePath() const { return devicePath_; }

    // Ends the thread promptly, cutting short any reply delay; idempotent.
    void Stop();
    // Pulls the cable: closes the line (the station's reads then fail). Returns once closed.
    void Unplug();
    bool Unplugged() const { return unplugged_.load(); }

    // Snapshot of every request received so far, in order.
    std::vector<SimRequest> Requests() const;
    std::size_t RequestCount() const;
    // Waits until at least count requests were received; 1 when they were, 0 when the bound
    // passed first.
    int WaitForRequests(std::size_t count, std::chrono::milliseconds bound) const;

    SimVerifyReport Verify(const std::vector<SimExpectedImage>& images) const;
    // Bytes of an area (a code area's key 0x70..0x77, kSimAreaFs, kSimAreaBackup); 0xFF where
    // nothing was written.
    std::vector<std::uint8_t> ReadArea(std::uint8_t area, std::uint32_t address,
                                       std::size_t length) const;
    // Puts bytes into an area as if they had always been there (a backup area's calibration
    // data, a file system from an earlier run). Seeding kSimAreaFs makes the file system exist.
    void SeedArea(std::uint8_t area, std::uint32_t address, std::span<const std::uint8_t> bytes);

    bool Started() const;  // GO was acknowledged
    int GoCount() const;
    bool SecurityModeRequested() const;
    std::uint64_t BytesReceived() const { return bytesReceived_.load(); }
    std::uint64_t BytesSent() const { return bytesSent_.load(); }

private:
    static std::unique_ptr<SimHandset> Start(SimFd line, std::string devicePath, Options options,
                                             std::string* error);
    void Run();
    // Waits up to bound for a wake-up; true when one came (stop or unplug asked for).
    bool WaitWake(std::chrono::microseconds bound);
    void Wake();
    bool Interrupted() const { return stop_.load() || unplugRequested_.load(); }
    // Writes bytes at the line's pace; drops them when the peer is away or the line closes.
    void WriteOut(std::span<const std::uint8_t> bytes);
    int WriteSome(std::span<const std::uint8_t> bytes);
    void CloseLine();

    const std::string devicePath_;
    const bool pty_;
    SimFd line_;  // used by the thread; closed by it (or by Unplug once it has ended)
    bool socket_ = false;
    bool peerGone_ = false;  // the thread's: the other end of a socket closed for good
    SimFd wakeRead_;
    SimFd wakeWrite_;
    UartPacer rx_;  // the thread's
    UartPacer tx_;  // the thread's

    mutable std::mutex mu_;
    mutable std::condition_variable changed_;
    SimAgent agent_;  // guarded by mu_

    std::atomic<bool> stop_{false};
    std::atomic<bool> unplugRequested_{false};
    std::atomic<bool> unplugged_{false};
    std::atomic<bool> running_{false};
    std::atomic<std::uint64_t> bytesReceived_{0};
    std::atomic<std::uint64_t> bytesSent_{0};
    std::thread thread_;
};
