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

}  // namespace transport_test
