#include "transport/serial_port.h"

#include <chrono>
#include <thread>
#include <utility>

#include "transport/channel_wake.h"
#include "transport/serial_device.h"
#include "transport/trace.h"

std::array<std::atomic<int>, kChannels> g_bChannelActive{};
std::array<std::atomic<int>, kChannels> g_nComPort{};
std::array<std::atomic<int>, kChannels> g_nChannelBaud{};
std::mutex g_hPortMutex;
SerialDeviceTable g_hSerialDevice;

namespace {

// Read area of each channel's pump; touched only by the channel's worker.
std::array<std::array<std::uint8_t, kReadAreaSize>, kChannels> g_ReadArea{};

std::atomic<PassWaitFn> g_PassWait{nullptr};
std::atomic<DelayFn> g_Delay{nullptr};
std::atomic<int> g_WriteDelayMs{kDefaultWriteDelayMs};
std::array<std::atomic<ReceiveSink>, kChannels> g_Sink{};

std::int64_t DefaultPassWait(int channel, std::int64_t maxMicros) {
    const auto start = std::chrono::steady_clock::now();
    SerialHandle handle = g_hSerialDevice.Get(channel);
    const int fd = handle ? handle->PollFd() : -1;
    if (handle && fd < 0) {
        // A port without a pollable descriptor: plain passes of 1 ms.
        CHANNEL_WAKE_Wait(channel, -1, std::min<std::int64_t>(maxMicros, 1000));
    } else {
        CHANNEL_WAKE_Wait(channel, fd, maxMicros);
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    return elapsed;
}

// 1 once the pump closed the channel's port after a failed read; cleared by the next open.
std::array<std::atomic<int>, kChannels> g_bPortGone{};

// Takes the channel's port out of the table under the port mutex, then closes it outside the
// mutex: the drain may wait on a handset that holds flow control, and must not hold up the
// other channels' opens and closes meanwhile. A read or write in flight keeps its own reference,
// so the device is released only after it.
void CloseUnderMutex(int channel) {
    SerialHandle handle;
    {
        std::lock_guard lock(g_hPortMutex);
        handle = g_hSerialDevice.Take(channel);
    }
    if (handle) SERIAL_DEVICE_Close(channel, std::move(handle));
}

void DefaultDelay(int, int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace

SerialHandle SerialDeviceTable::Get(int channel) const {
    if (!IsChannel(channel)) return nullptr;
    std::lock_guard lock(locks_[channel]);
    return handles_[channel];
}

void SerialDeviceTable::Set(int channel, SerialHandle handle) {
    if (!IsChannel(channel)) return;
    std::lock_guard lock(locks_[channel]);
    handles_[channel] = std::move(handle);
}

SerialHandle SerialDeviceTable::Take(int channel) {
    if (!IsChannel(channel)) return nullptr;
    std::lock_guard lock(locks_[channel]);
    return std::exchange(handles_[channel], nullptr);
}

int SERIAL_PORT_Start(int channel, int portNumber, int baudRate) {
    if (!IsChannel(channel)) return 0;
    g_nComPort[channel] = portNumber;
    g_nChannelBaud[channel] = baudRate;
    DBG_Trace(">> SERIAL_PORT_Start()\n");
    return 1;
}

int SERIAL_PORT_Stop(int channel) {
    if (!IsChannel(channel)) return 0;
    CloseUnderMutex(channel);
    DBG_Trace(">> SERIAL_PORT_Stop()\n");
    return 1;
}

int SERIAL_PORT_Open(int channel, SerialOpenFailure* failure) {
    if (!IsChannel(channel)) return 0;
    if (g_nChannelBaud[channel] == 0) {
        if (failure != nullptr) *failure = {SerialOpenStage::kSettings, 0, "no bit rate given"};
        return 0;
    }
    const int port = g_nComPort[channel];
    g_bPortGone[channel] = 0;
    bool open = false;
    {
        std::lock_guard lock(g_hPortMutex);
        if (!g_hSerialDevice.IsOpen(channel)) {
            g_hSerialDevice.Set(
                channel, SERIAL_DEVICE_Open(channel, port, g_nChannelBaud[channel], failure));
        }
        open = g_hSerialDevice.IsOpen(channel);
    }
    if (open) return 1;
    DBG_Trace("[Ch %d] g_hSerialDevice == NULL\n", channel);
    return 0;
}

int SERIAL_PORT_Close(int channel) {
    if (!IsChannel(channel)) return 0;
    CloseUnderMutex(channel);
    return 1;
}

int SERIAL_PORT_Read(int channel, std::span<std::uint8_t> buffer, int offset, int maxLength) {
    SerialHandle handle = g_hSerialDevice.Get(channel);
    if (!handle) return -1;
    return SERIAL_DEVICE_Read(channel, handle.get(), buffer, offset, maxLength);
}

int SERIAL_PORT_Write(int channel, std::span<const std::uint8_t> buffer, int offset, int length) {
    if (!IsChannel(channel)) return -1;
    const int delay = g_WriteDelayMs.load(std::memory_order_relaxed);
    DelayFn fn = g_Delay.load();
    (fn ? fn : DefaultDelay)(channel, delay);
    SerialHandle handle = g_hSerialDevice.Get(channel);
    if (!handle) return -1;
    return SERIAL_DEVICE_Write(channel, handle.get(), buffer, offset, length);
}

int SERIAL_PORT_DoReading(int channel) {
    if (!IsChannel(channel)) return -1;
    auto& area = g_ReadArea[channel];
    const int n = SERIAL_PORT_Read(channel, area, 0, kReadAreaSize);
    if (n > 0) {
        const ReceiveSink sink = g_Sink[channel].load(std::memory_order_relaxed);
        return sink ? sink(channel, std::span<const std::uint8_t>(area.data(), n)) : n;
    }
    if (n == 0) return 0;
    DBG_Trace("[Ch %d] SERIAL_PORT_DoReading read_size < 0\n", channel);
    // Nothing more can arrive: the channel's waits end at their next pass.
    if (g_hSerialDevice.IsOpen(channel)) g_bPortGone[channel] = 1;
    CloseUnderMutex(channel);
    return n;
}

int SERIAL_PORT_IsGone(int channel) {
    if (!IsChannel(channel)) return 0;
    return g_bPortGone[channel].load(std::memory_order_relaxed);
}

void SERIAL_PORT_SetPassWait(PassWaitFn fn) {
    g_PassWait = fn;
}

std::int64_t SERIAL_PORT_WaitPass(int channel, std::int64_t maxMicros) {
    PassWaitFn fn = g_PassWait.load();
    return (fn ? fn : DefaultPassWait)(channel, maxMicros);
}

void SERIAL_PORT_SetReceiveSink(int channel, ReceiveSink sink) {
    if (IsChannel(channel)) g_Sink[channel] = sink;
}

void SERIAL_PORT_SetWriteDelay(int milliseconds) {
    g_WriteDelayMs = milliseconds < 0 ? 0 : milliseconds;
}

int SERIAL_PORT_WriteDelay() {
    return g_WriteDelayMs.load(std::memory_order_relaxed);
}

void SERIAL_PORT_SetDelay(DelayFn fn) {
    g_Delay = fn;
}

void SERIAL_PORT_Wake(int channel) {
    CHANNEL_WAKE_Signal(channel);
}
void SERIAL_PORT_ClearWake(int channel) {
    CHANNEL_WAKE_Clear(channel);
}
