#include "jobs/port_assignment.h"

#include <cstdlib>

#include "transport/port_diagnostics.h"
#include "transport/port_table.h"

int PORTS_Choose(ChannelPorts& ports, int channel, int port) {
    if (!IsChannel(channel)) return 0;
    bool taken = false;
    for (int p : ports) taken = taken || p == port;
    ports[channel] = taken ? 0 : port;
    return ports[channel];
}

int PORTS_Arrive(ChannelPorts& ports, int port, std::array<bool, kChannels>* cleared) {
    if (cleared != nullptr) cleared->fill(false);
    if (port <= 0) return -1;
    int target = -1;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (ports[ch] != port) continue;
        if (target < 0) {
            target = ch;
        } else {
            ports[ch] = 0;
            if (cleared != nullptr) (*cleared)[ch] = true;
        }
    }
    for (int ch = 0; ch < kChannels && target < 0; ++ch) {
        if (ports[ch] == 0) target = ch;
    }
    if (target >= 0) ports[target] = port;
    return target;
}

int PORTS_ChannelOf(const ChannelPorts& ports, int port) {
    for (int ch = 0; ch < kChannels; ++ch) {
        if (ports[ch] == port) return ch;
    }
    return -1;
}

std::vector<PresentPort> PORTS_NumberPresent(const std::string& devDir) {
    std::vector<PresentPort> present;
    for (const std::string& device : PORTTABLE_ScanDevicesIn(devDir)) {
        present.push_back({PORTTABLE_Assign(device), device, false});
    }
    const DiagOptions where;
    for (const std::string& device : PORTDIAG_BuiltinUarts(devDir, where.sysTtyDir)) {
        present.push_back({PORTTABLE_Assign(device), device, true});
    }
    return present;
}

int PORTS_Resolve(const std::string& name, std::string* device, std::string* error,
                  const std::string& devDir) {
    std::string local;
    std::string& out = device != nullptr ? *device : local;
    if (name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0) &&
        name.find_first_not_of("0123456789", 3) == std::string::npos) {
        const long n = std::strtol(name.c_str() + 3, nullptr, 10);
        const bool inRange = n >= 1 && n <= kMaxPortNumber;
        out = inRange ? PORTTABLE_Device(static_cast<int>(n)) : std::string();
        if (out.empty() && inRange) {
            // `pelor ports` shows a port seen for the first time with the number it gets here.
            PORTS_NumberPresent(devDir);
            out = PORTTABLE_Device(static_cast<int>(n));
        }
        if (out.empty()) {
            if (error != nullptr) *error = name + " is not in the port table (see `pelor ports`)";
            return 0;
        }
        return static_cast<int>(n);
    }
    out = name;
    const int n = PORTTABLE_Assign(name);
    if (n == 0 && error != nullptr) *error = "no free port number for " + name;
    return n;
}
