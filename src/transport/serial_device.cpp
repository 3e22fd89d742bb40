// The serial device operations of the station: the device is chosen by name ("loop:NAME" for
// an in-process loopback, else the platform's serial port), the results and trace lines are
// the same for every backend.
#include "transport/serial_device.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <string_view>

#include "transport/channels.h"
#include "transport/loopback_port.h"
#include "transport/port_table.h"
#include "transport/serial_backend.h"
#include "transport/trace.h"

namespace {

constexpr std::string_view kLoopPrefix = "loop:";

std::atomic<int> g_writeBoundMs{kWriteTimeoutMs};
std::atomic<int> g_drainBoundMs{kDrainTimeoutMs};

void TraceFailure(int channel, const std::string& device, const SerialOpenFailure& failure) {
    switch (failure.stage) {
        case SerialOpenStage::kCreate:
            DBG_Trace("[Ch %d] CreateFile(%s) False = %d\n", channel, device.c_str(), failure.code);
            break;
        case SerialOpenStage::kSettings:
            DBG_Trace("[Ch %d] SetCommState False\n", channel);
            break;
        case SerialOpenStage::kReadEvent:
            DBG_Trace("[Ch %d] g_osRead CreateEvent False\n", channel);
            break;
        case SerialOpenStage::kWriteEvent:
            DBG_Trace("[Ch %d] g_osWrite CreateEvent False\n", channel);
            break;
    }
}

SerialHandle Failed(int channel, const std::string& device, const SerialOpenFailure& failure) {
    TraceFailure(channel, device, failure);
    DBG_Trace("[Ch %d] open %s: %s\n", channel, device.c_str(), failure.reason.c_str());
    return nullptr;
}

// label names the port in the success trace: "COM3", or the device itself.
SerialHandle OpenDevice(int channel, const std::string& device, int baudRate,
                        const std::string& label, SerialOpenFailure* out) {
    SerialOpenFailure local;
    SerialOpenFailure& failure = out != nullptr ? *out : local;
    failure = SerialOpenFailure{};
    if (!IsChannel(channel)) {
        failure.code = EINVAL;
        TraceFailure(channel, device, failure);
        return nullptr;
    }
    if (device.empty()) {
        failure.code = ENOENT;
        failure.reason = "no such device";
        return Failed(channel, label, failure);
    }

    SerialHandle handle;
    if (device.compare(0, kLoopPrefix.size(), kLoopPrefix) == 0) {
        handle = LOOPBACK_Open(device.substr(kLoopPrefix.size()));
        if (!handle) {
            failure.code = ENOENT;
            failure.reason = "no such device";
            return Failed(channel, device, failure);
        }
    } else if (baudRate <= 0) {
        failure.stage = SerialOpenStage::kSettings;
        failure.code = EINVAL;
        failure.reason = "bit rate " + std::to_string(baudRate) + " refused";
        return Failed(channel, device, failure);
    } else {
        handle = SERIAL_BACKEND_Open(channel, device, baudRate, &failure);
        if (!handle) return Failed(channel, device, failure);
    }

    DBG_Trace("SERIAL_DEVICE_Open() %s, BaudRate:%d\n", label.c_str(), baudRate);
    return handle;
}

}  // namespace

int SERIAL_WriteBoundMs() {
    return g_writeBoundMs.load(std::memory_order_relaxed);
}
int SERIAL_DrainBoundMs() {
    return g_drainBoundMs.load(std::memory_order_relaxed);
}

void SERIAL_DEVICE_SetTimeBounds(int writeMs, int drainMs) {
    g_writeBoundMs.store(writeMs > 0 ? writeMs : kWriteTimeoutMs, std::memory_order_relaxed);
    g_drainBoundMs.store(drainMs > 0 ? drainMs : kDrainTimeoutMs, std::memory_order_relaxed);
}

SerialHandle SERIAL_DEVICE_Open(int channel, int portNumber, int baudRate,
                                SerialOpenFailure* failure) {
    return OpenDevice(channel, PORTTABLE_Device(portNumber), baudRate,
                      "COM" + std::to_string(portNumber), failure);
}

SerialHandle SERIAL_DEVICE_OpenPath(int channel, const std::string& device, int baudRate,
                                    SerialOpenFailure* failure) {
    return OpenDevice(channel, device, baudRate, device, failure);
}

void SERIAL_DEVICE_Close(int /*channel*/, SerialHandle handle) {
    if (handle) handle->Close();
    DBG_Trace("SERIAL_DEVICE_Close()\n");
    // handle goes out of scope here; the device is released with its last user.
}

int SERIAL_DEVICE_Read(int /*channel*/, PortDevice* handle, std::span<std::uint8_t> buffer,
                       int offset, int maxLength) {
    if (handle == nullptr || offset < 0 || maxLength < 0 ||
        static_cast<std::size_t>(offset) > buffer.size()) {
        return -1;
    }
    // Never past the end of the buffer, whatever the caller asks for.
    const std::size_t room = buffer.size() - static_cast<std::size_t>(offset);
    const std::size_t count = std::min(room, static_cast<std::size_t>(maxLength));
    if (count == 0) return 0;
    const int n = handle->Read(buffer.subspan(static_cast<std::size_t>(offset), count));
    if (n > 0) DBG_Trace("dwLength = %d\n", n);
    return n;
}

int SERIAL_DEVICE_Write(int /*channel*/, PortDevice* handle, std::span<const std::uint8_t> buffer,
                        int offset, int length) {
    if (handle == nullptr || offset < 0 || length < 0 ||
        static_cast<std::size_t>(offset) > buffer.size() ||
        static_cast<std::size_t>(length) > buffer.size() - static_cast<std::size_t>(offset)) {
        return -1;
    }
    if (length == 0) return 0;
    const int n = handle->Write(
        buffer.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length)));
    if (n > 0) DBG_Trace("dwBytesWritten = %d\n", n);
    return n;
}
