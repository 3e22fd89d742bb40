#pragma once
// The transport's part of a station: each channel's port and run flags, its read area and wake
// signal, the one port mutex, and what the transport takes from the station's environment (how
// a pass waits, the pause before a write). The SERIAL_PORT_* functions work on the ports of the
// calling thread's station: the one its worker runs for, else the one the front end made.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>

#include "transport/channel_wake.h"
#include "transport/channels.h"
#include "transport/serial_device.h"
#include "transport/station_clock.h"

inline constexpr int kReadAreaSize = 4096;
inline constexpr int kDefaultWriteDelayMs = 2;

// Where the pump hands what it read on a channel: bytes[0..size) in order. Returns the count
// taken (all of them).
using ReceiveSink = int (*)(int channel, std::span<const std::uint8_t> bytes);

// Overrides of one aspect of the station's clock, for tests: one pass of a wait (as
// StationClock::WaitPass) and the "DELAY" pause before a write (as StationClock::Pause).
using PassWaitFn = std::int64_t (*)(int channel, std::int64_t maxMicros);
using DelayFn = void (*)(int channel, int milliseconds);

struct PortEnvironment {
    PassWaitFn passWait = nullptr;  // nullptr: the clock's passes
    DelayFn delay = nullptr;        // nullptr: the clock's pauses
    int writeDelayMs = kDefaultWriteDelayMs;
    StationClock* clock = nullptr;  // nullptr: the real clock
};

// One channel's port. The flags cross threads (the front end stops a channel, the runner polls
// the port number); the read area is the worker's alone.
struct PortChannel {
    std::atomic<int> active{0};   // 1 while the channel takes part in a run; 0 ends its waits
    std::atomic<int> comPort{0};  // 0 = none, or the channel's job has finished
    std::atomic<int> baud{0};     // 0 = never started
    std::atomic<int> gone{0};     // 1 once the port's device is known to be gone
    std::atomic<ReceiveSink> sink{nullptr};
    ChannelWake wake;
    std::array<std::uint8_t, kReadAreaSize> readArea{};

    // The open port. Changed only with the station's port mutex held; read under a short lock
    // of its own, so a reader holds its own reference while it reads or writes.
    SerialHandle Handle() const;
    void SetHandle(SerialHandle handle);
    SerialHandle TakeHandle();

private:
    mutable std::mutex handleLock_;
    SerialHandle handle_;
};

class StationPorts {
public:
    explicit StationPorts(PortEnvironment env = {});
    ~StationPorts();  // closes every port still open
    StationPorts(const StationPorts&) = delete;
    StationPorts& operator=(const StationPorts&) = delete;

    PortChannel& channel(int index) { return channels_[static_cast<std::size_t>(index)]; }
    // Held only while a port is opened or closed.
    std::mutex& portMutex() { return portMutex_; }

    // How time passes for the station's channels; never null.
    std::atomic<StationClock*> clock;
    std::atomic<PassWaitFn> passWait;
    std::atomic<DelayFn> delay;
    std::atomic<int> writeDelayMs;

private:
    std::mutex portMutex_;
    std::array<PortChannel, kChannels> channels_;
};

// The calling thread's ports: the ones bound to this thread, else the process's default.
StationPorts& SERIAL_PORT_Station();
// Binds ports to the calling thread (nullptr unbinds); returns what was bound before.
StationPorts* SERIAL_PORT_Bind(StationPorts* ports);
// The process's default (the front end's station); nullptr goes back to the built-in one.
void SERIAL_PORT_SetDefault(StationPorts* ports);
// The ports used when no station was made: bound nowhere and made default by nobody.
StationPorts& SERIAL_PORT_BuiltIn();

// The run flags of the calling thread's station, by their long-standing names:
// g_bChannelActive[ch] (1 while the channel takes part in a run; the front end clears it to
// stop), g_nComPort[ch] (cleared by the channel's worker as its last act, polled by the runner)
// and g_nChannelBaud[ch].
template <std::atomic<int> PortChannel::*Field>
struct PortFlagView {
    std::atomic<int>& operator[](int channel) const {
        return SERIAL_PORT_Station().channel(channel).*Field;
    }
};
inline constexpr PortFlagView<&PortChannel::active> g_bChannelActive{};
inline constexpr PortFlagView<&PortChannel::comPort> g_nComPort{};
inline constexpr PortFlagView<&PortChannel::baud> g_nChannelBaud{};

// The open port of each channel of the calling thread's station.
struct SerialDeviceView {
    SerialHandle Get(int channel) const;
    void Set(int channel, SerialHandle handle) const;  // caller holds the port mutex
    SerialHandle Take(int channel) const;              // caller holds the port mutex
    bool IsOpen(int channel) const { return static_cast<bool>(Get(channel)); }
};
inline constexpr SerialDeviceView g_hSerialDevice{};

// The port mutex of the calling thread's station.
std::mutex& SERIAL_PORT_Mutex();
