#include <sys/stat.h>

#include <cstdio>

#include "transport/loopback_port.h"
#include "transport/port_presence.h"

int PORT_PRESENCE_Exists(const std::string& device) {
    if (device.empty()) return 0;
    if (device.rfind("loop:", 0) == 0) return LOOPBACK_Exists(device.substr(5)) ? 1 : 0;
    struct stat info {};
    return ::stat(device.c_str(), &info) == 0 ? 1 : 0;
}

std::string PORT_PRESENCE_Identity(const std::string& device) {
    if (device.empty()) return {};
    if (device.rfind("loop:", 0) == 0) {
        const unsigned long long generation = LOOPBACK_Generation(device.substr(5));
        return generation != 0 ? "loop#" + std::to_string(generation) : std::string();
    }
    struct stat link {};
    struct stat node {};
    if (::lstat(device.c_str(), &link) != 0 || ::stat(device.c_str(), &node) != 0) return {};
    // A link made again may take the inode number its predecessor freed, so its change time
    // goes with it; a node's change time moves when udev sets its owner, so only a link's
    // counts (device nodes take fresh inode numbers).
    const bool isLink = S_ISLNK(link.st_mode);
    char text[160];
    std::snprintf(
        text, sizeof text, "%llx:%llx:%lld.%09ld %llx:%llx:%llx",
        static_cast<unsigned long long>(link.st_dev), static_cast<unsigned long long>(link.st_ino),
        isLink ? static_cast<long long>(link.st_ctim.tv_sec) : 0LL,
        isLink ? static_cast<long>(link.st_ctim.tv_nsec) : 0L,
        static_cast<unsigned long long>(node.st_dev), static_cast<unsigned long long>(node.st_ino),
        static_cast<unsigned long long>(node.st_rdev));
    return text;
}
