// Serial devices present on Windows: the COM names the system knows now.
#include <windows.h>

#include <array>
#include <cctype>
#include <string_view>

#include "transport/port_table.h"

std::vector<std::string> PORTTABLE_ScanDevices() {
    std::vector<std::string> found;
    std::array<char, 512> target{};
    for (int n = 1; n <= kMaxPortNumber; ++n) {
        const std::string name = "COM" + std::to_string(n);
        // A target too long for the buffer still means the name exists.
        if (QueryDosDeviceA(name.c_str(), target.data(), static_cast<DWORD>(target.size())) != 0 ||
            GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            found.push_back("\\\\.\\" + name);
        }
    }
    return found;
}

std::vector<std::string> PORTTABLE_ScanDevicesIn(const std::string&) {
    return PORTTABLE_ScanDevices();
}

std::string PORTTABLE_DeviceIdentity(const std::string& device) {
    std::string_view rest(device);
    if (rest.substr(0, 4) == "\\\\.\\") rest.remove_prefix(4);
    std::string name;
    for (char c : rest) name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name.size() < 4 || name.size() > 8 || name.compare(0, 3, "COM") != 0 ||
        name.find_first_not_of("0123456789", 3) != std::string::npos) {
        return device;
    }
    // "COM07" and "COM7" are one port.
    return "COM" + std::to_string(std::stoi(name.substr(3)));
}
