#include "transport/station_ports.h"

#include <utility>

#include "transport/thread_binding.h"

using PortsBinding = ThreadBinding<StationPorts>;

StationPorts& SERIAL_PORT_BuiltIn() {
    static StationPorts ports;
    return ports;
}

SerialHandle PortChannel::Handle() const {
    std::lock_guard lock(handleLock_);
    return handle_;
}

void PortChannel::SetHandle(SerialHandle handle) {
    std::lock_guard lock(handleLock_);
    handle_ = std::move(handle);
}

SerialHandle PortChannel::TakeHandle() {
    std::lock_guard lock(handleLock_);
    return std::exchange(handle_, nullptr);
}

StationPorts::StationPorts(PortEnvironment env)
    : clock(env.clock != nullptr ? env.clock : &STATION_RealClock()),
      passWait(env.passWait),
      delay(env.delay),
      writeDelayMs(env.writeDelayMs) {}

StationPorts::~StationPorts() {
    for (int ch = 0; ch < kChannels; ++ch) {
        SerialHandle handle;
        {
            std::lock_guard lock(portMutex_);
            handle = channel(ch).TakeHandle();
        }
        if (handle) SERIAL_DEVICE_Close(ch, std::move(handle));
    }
}

StationPorts& SERIAL_PORT_Station() {
    if (StationPorts* ports = PortsBinding::Get()) return *ports;
    return SERIAL_PORT_BuiltIn();
}

StationPorts* SERIAL_PORT_Bind(StationPorts* ports) {
    return PortsBinding::Bind(ports);
}

void SERIAL_PORT_SetDefault(StationPorts* ports) {
    PortsBinding::SetDefault(ports);
}

std::mutex& SERIAL_PORT_Mutex() {
    return SERIAL_PORT_Station().portMutex();
}

SerialHandle SerialDeviceView::Get(int channel) const {
    if (!IsChannel(channel)) return nullptr;
    return SERIAL_PORT_Station().channel(channel).Handle();
}

void SerialDeviceView::Set(int channel, SerialHandle handle) const {
    if (IsChannel(channel)) SERIAL_PORT_Station().channel(channel).SetHandle(std::move(handle));
}

SerialHandle SerialDeviceView::Take(int channel) const {
    if (!IsChannel(channel)) return nullptr;
    return SERIAL_PORT_Station().channel(channel).TakeHandle();
}

void CHANNEL_WAKE_Wait(int channel, int fd, std::int64_t maxMicros) {
    if (IsChannel(channel)) SERIAL_PORT_Station().channel(channel).wake.Wait(fd, maxMicros);
}

void CHANNEL_WAKE_Signal(int channel) {
    if (IsChannel(channel)) SERIAL_PORT_Station().channel(channel).wake.Signal();
}

void CHANNEL_WAKE_Clear(int channel) {
    if (IsChannel(channel)) SERIAL_PORT_Station().channel(channel).wake.Clear();
}
