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

#include "transport/serial_device.h"

namespace transport_test {

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string templ = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") +
                            "/pelor-transport-XXXXXX";
        std::vector<char> name(templ.begin(), templ.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) != nullptr) path_ = name.data();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

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
