#include <sys/stat.h>

#include "transport/loopback_port.h"
#include "transport/port_presence.h"

int PORT_PRESENCE_Exists(const std::string& device) {
    if (device.empty()) return 0;
    if (device.rfind("loop:", 0) == 0) return LOOPBACK_Exists(device.substr(5)) ? 1 : 0;
    struct stat info {};
    return ::stat(device.c_str(), &info) == 0 ? 1 : 0;
}
