#pragma once
// Port ownership and the receive pump: which port and bit rate each channel uses in a run, the
// one mutex that guards opening and closing, the read and write wrappers of the link, and the
// pump that hands received bytes to the channel's receive sink (the link's frame assembler
// registers itself there). The pump has no thread of its own: it runs on the channel's worker,
// from inside the link's waits.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>

#include "transport/channels.h"
#include "transport/port_device.h"
#include "transport/serial_device.h"

inline constexpr int kReadAreaSize = 4096;
inline constexpr int kDefaultWriteDelayMs = 2;

// Where the pump hands what it read on a channel: bytes[0..size) in order. Returns the count
// taken (all of them).
using ReceiveSink = int (*)(int channel, std::span<const std::uint8_t> bytes);
// Registered by the layer above for each channel before the channel's worker runs; without one
// the bytes read are dropped.
void SERIAL_PORT_SetReceiveSink(int channel, ReceiveSink sink);

// Port number of each channel (0 = none, or the channel's job has finished) and its bit rate
// (0 = never started). Set by SERIAL_PORT_Start; g_nComPort is cleared by the channel's worker
// as its last act and polled by the runner.
extern std::array<std::atomic<int>, kChannels> g_nComPort;
extern std::array<std::atomic<int>, kChannels> g_nChannelBaud;

// The one port mutex: held only while a port is opened or closed.
extern std::mutex g_hPortMutex;

// The open port of each channel. Changed only with g_hPortMutex held; read through a short
// per-channel lock, so a reader holds its own reference while it reads or writes.
class SerialDeviceTable {
public:
    SerialHandle Get(int channel) const;
    void Set(int channel, SerialHandle handle);  // caller holds g_hPortMutex
    SerialHandle Take(int channel);              // caller holds g_hPortMutex
    bool IsOpen(int channel) const { return static_cast<bool>(Get(channel)); }

private:
    mutable std::array<std::mutex, kChannels> locks_;
    std::array<SerialHandle, kChannels> handles_;
};
extern SerialDeviceTable g_hSerialDevice;

int SERIAL_PORT_Start(int channel, int portNumber, int baudRate);
int SERIAL_PORT_Stop(int channel);
// 1 when the channel has an open port afterwards; 0 on failure (the caller reports it), with
// *failure (when given) saying where and why.
int SERIAL_PORT_Open(int channel, SerialOpenFailure* failure = nullptr);
int SERIAL_PORT_Close(int channel);
int SERIAL_PORT_Read(int channel, std::span<std::uint8_t> buffer, int offset, int maxLength);
// Pauses the write delay ("DELAY" ms), then writes.
int SERIAL_PORT_Write(int channel, std::span<const std::uint8_t> buffer, int offset, int length);
// Reads at most 4096 waiting bytes and hands them to the channel's receive sink. Returns the
// count, 0 when nothing was waiting; on a read failure closes the port and returns -1.
int SERIAL_PORT_DoReading(int channel);
// 1 once the pump closed the channel's port because a read failed (the device is gone):
// nothing more can arrive, so the channel's waits end at once. Cleared by SERIAL_PORT_Open.
int SERIAL_PORT_IsGone(int channel);

// --- Waiting between passes of the link's waits -------------------------------------------
// One pass of a wait: blocks until bytes may have arrived on the channel's port, the channel
// was woken (stopped), or maxMicros have passed, and returns the microseconds the pass counts
// for. The default measures real time; tests inject one that returns at once.
using PassWaitFn = std::int64_t (*)(int channel, std::int64_t maxMicros);
void SERIAL_PORT_SetPassWait(PassWaitFn fn);  // nullptr restores the default
std::int64_t SERIAL_PORT_WaitPass(int channel, std::int64_t maxMicros);

// The pause before every write, in milliseconds ("DELAY"); given by the run (default 2).
void SERIAL_PORT_SetWriteDelay(int milliseconds);
int SERIAL_PORT_WriteDelay();

// The "DELAY" pause before a write; tests inject one that does not sleep.
using DelayFn = void (*)(int channel, int milliseconds);
void SERIAL_PORT_SetDelay(DelayFn fn);  // nullptr restores the default

// Wakes the channel's current and next waits at once (a stop or a removal), until cleared.
void SERIAL_PORT_Wake(int channel);
void SERIAL_PORT_ClearWake(int channel);
