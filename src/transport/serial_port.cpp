#include "transport/serial_port.h"

#include <utility>

#include "transport/channel_wake.h"
#include "transport/serial_device.h"
#include "transport/trace.h"

namespace {

// Takes the channel's port out of the table under the port mutex, then closes it outside the
// mutex: the drain may wait on a handset that holds flow control, and must not hold up the
// other channels' opens and closes meanwhile. A read or write in flight keeps its own reference,
// so the device is released only after it.
void CloseUnderMutex(StationPorts& ports, int channel) {
    SerialHandle handle;
    {
        std::lock_guard lock(ports.portMutex());
        handle = ports.channel(channel).TakeHandle();
    }
    if (handle) SERIAL_DEVICE_Close(channel, std::move(handle));
}

}  // namespace

int SERIAL_PORT_Start(int channel, int portNumber, int baudRate) {
    if (!IsChannel(channel)) return 0;
    PortChannel& port = SERIAL_PORT_Station().channel(channel);
    port.comPort = portNumber;
    port.baud = baudRate;
    DBG_Trace(">> SERIAL_PORT_Start()\n");
    return 1;
}

int SERIAL_PORT_Stop(int channel) {
    if (!IsChannel(channel)) return 0;
    CloseUnderMutex(SERIAL_PORT_Station(), channel);
    DBG_Trace(">> SERIAL_PORT_Stop()\n");
    return 1;
}

int SERIAL_PORT_Open(int channel, SerialOpenFailure* failure) {
    if (!IsChannel(channel)) return 0;
    StationPorts& ports = SERIAL_PORT_Station();
    PortChannel& port = ports.channel(channel);
    if (port.baud == 0) {
        if (failure != nullptr) *failure = {SerialOpenStage::kSettings, 0, "no bit rate given"};
        return 0;
    }
    port.gone = 0;
    bool open = false;
    {
        std::lock_guard lock(ports.portMutex());
        if (!port.Handle()) {
            port.SetHandle(SERIAL_DEVICE_Open(channel, port.comPort, port.baud, failure));
        }
        open = static_cast<bool>(port.Handle());
    }
    if (open) return 1;
    DBG_Trace("[Ch %d] g_hSerialDevice == NULL\n", channel);
    return 0;
}

int SERIAL_PORT_Close(int channel) {
    if (!IsChannel(channel)) return 0;
    CloseUnderMutex(SERIAL_PORT_Station(), channel);
    return 1;
}

int SERIAL_PORT_Read(int channel, std::span<std::uint8_t> buffer, int offset, int maxLength) {
    if (!IsChannel(channel)) return -1;
    SerialHandle handle = SERIAL_PORT_Station().channel(channel).Handle();
    if (!handle) return -1;
    return SERIAL_DEVICE_Read(channel, handle.get(), buffer, offset, maxLength);
}

int SERIAL_PORT_Write(int channel, std::span<const std::uint8_t> buffer, int offset, int length) {
    if (!IsChannel(channel)) return -1;
    StationPorts& ports = SERIAL_PORT_Station();
    const int delay = ports.writeDelayMs.load(std::memory_order_relaxed);
    if (DelayFn fn = ports.delay.load(std::memory_order_relaxed)) {
        fn(channel, delay);
    } else {
        ports.clock.load(std::memory_order_relaxed)->Pause(channel, delay);
    }
    SerialHandle handle = ports.channel(channel).Handle();
    if (!handle) return -1;
    return SERIAL_DEVICE_Write(channel, handle.get(), buffer, offset, length);
}

int SERIAL_PORT_DoReading(int channel) {
    if (!IsChannel(channel)) return -1;
    StationPorts& ports = SERIAL_PORT_Station();
    PortChannel& port = ports.channel(channel);
    auto& area = port.readArea;
    const int n = SERIAL_PORT_Read(channel, area, 0, kReadAreaSize);
    if (n > 0) {
        const ReceiveSink sink = port.sink.load(std::memory_order_relaxed);
        return sink ? sink(channel, std::span<const std::uint8_t>(area.data(), n)) : n;
    }
    if (n == 0) return 0;
    DBG_Trace("[Ch %d] SERIAL_PORT_DoReading read_size < 0\n", channel);
    // Nothing more can arrive: the channel's waits end at their next pass.
    if (port.Handle()) port.gone = 1;
    CloseUnderMutex(ports, channel);
    return n;
}

void SERIAL_PORT_MarkGone(int channel) {
    if (IsChannel(channel)) SERIAL_PORT_Station().channel(channel).gone = 1;
}

int SERIAL_PORT_IsGone(int channel) {
    if (!IsChannel(channel)) return 0;
    return SERIAL_PORT_Station().channel(channel).gone.load(std::memory_order_relaxed);
}

void SERIAL_PORT_SetPassWait(PassWaitFn fn) {
    SERIAL_PORT_Station().passWait = fn;
}

std::int64_t SERIAL_PORT_WaitPass(int channel, std::int64_t maxMicros) {
    if (!IsChannel(channel)) return maxMicros;
    StationPorts& ports = SERIAL_PORT_Station();
    if (PassWaitFn fn = ports.passWait.load(std::memory_order_relaxed))
        return fn(channel, maxMicros);
    return ports.clock.load(std::memory_order_relaxed)->WaitPass(channel, maxMicros);
}

void SERIAL_PORT_SetReceiveSink(int channel, ReceiveSink sink) {
    if (IsChannel(channel)) SERIAL_PORT_Station().channel(channel).sink = sink;
}

void SERIAL_PORT_SetWriteDelay(int milliseconds) {
    SERIAL_PORT_Station().writeDelayMs = milliseconds < 0 ? 0 : milliseconds;
}

int SERIAL_PORT_WriteDelay() {
    return SERIAL_PORT_Station().writeDelayMs.load(std::memory_order_relaxed);
}

StationClock& SERIAL_PORT_Clock() {
    return *SERIAL_PORT_Station().clock.load(std::memory_order_relaxed);
}

void SERIAL_PORT_SetDelay(DelayFn fn) {
    SERIAL_PORT_Station().delay = fn;
}

void SERIAL_PORT_Wake(int channel) {
    CHANNEL_WAKE_Signal(channel);
}
void SERIAL_PORT_ClearWake(int channel) {
    CHANNEL_WAKE_Clear(channel);
}
