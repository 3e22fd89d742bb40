#include <windows.h>

#include <array>

#include "transport/loopback_port.h"
#include "transport/port_presence.h"

int PORT_PRESENCE_Exists(const std::string& device) {
    if (device.empty()) return 0;
    if (device.rfind("loop:", 0) == 0) return LOOPBACK_Exists(device.substr(5)) ? 1 : 0;
    std::string name = device;
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    std::array<char, 512> target{};
    // A target too long for the buffer still means the name exists.
    if (QueryDosDeviceA(name.c_str(), target.data(), static_cast<DWORD>(target.size())) != 0 ||
        GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        return 1;
    }
    return GetFileAttributesA(device.c_str()) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

std::string PORT_PRESENCE_Identity(const std::string& device) {
    if (device.rfind("loop:", 0) == 0) {
        const unsigned long long generation = LOOPBACK_Generation(device.substr(5));
        return generation != 0 ? "loop#" + std::to_string(generation) : std::string();
    }
    return PORT_PRESENCE_Exists(device) != 0 ? device : std::string();
}
