// Serial devices present on Windows: the COM names the system knows now.
#include <windows.h>

#include <array>

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
