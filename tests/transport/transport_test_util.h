#pragma once
// Helpers for the transport tests: a private temporary folder, whole-file reads, and reading
// from a station port until enough bytes came.
#include <stdlib.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "transport/channels.h"
#include "transport/serial_device.h"

namespace transport_test {

using ::TempDir;

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads through SERIAL_DEVICE_Read until count bytes came, the port failed, or bound passed.
inline std::vector<std::uint8_t> ReadFromStation(
    int channel, PortDevice* port, std::size_t count,
    std::chrono::milliseconds bound = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::vector<std::uint8_t> got;
    std::array<std::uint8_t, kSerialQueueSize> area{};
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        const int n = SERIAL_DEVICE_Read(channel, port, area, 0, kSerialQueueSize);
        if (n < 0) break;
        if (n == 0) {
            port->WaitReadable(std::chrono::milliseconds(10));
            continue;
        }
        got.insert(got.end(), area.begin(), area.begin() + n);
    }
    return got;
}

// Opens as SERIAL_DEVICE_Open and SERIAL_DEVICE_OpenPath do, keeping why the channel's last open
// through these failed ("" after a success) for Why.
inline std::array<std::string, kChannels>& OpenReasons() {
    static std::array<std::string, kChannels> reasons;
    return reasons;
}
inline SerialHandle Kept(int channel, SerialHandle handle, const SerialOpenFailure& failure) {
    if (IsChannel(channel)) OpenReasons()[channel] = handle ? std::string() : failure.reason;
    return handle;
}
inline SerialHandle Open(int channel, int portNumber, int baudRate) {
    SerialOpenFailure failure;
    SerialHandle handle = SERIAL_DEVICE_Open(channel, portNumber, baudRate, &failure);
    return Kept(channel, std::move(handle), failure);
}
inline SerialHandle OpenPath(int channel, const std::string& device, int baudRate) {
    SerialOpenFailure failure;
    SerialHandle handle = SERIAL_DEVICE_OpenPath(channel, device, baudRate, &failure);
    return Kept(channel, std::move(handle), failure);
}
inline std::string Why(int channel) {
    return IsChannel(channel) ? OpenReasons()[channel] : std::string();
}

}  // namespace transport_test
