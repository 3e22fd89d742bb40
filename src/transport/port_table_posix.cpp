// Serial devices present on a POSIX system. A USB adapter is listed by its stable
// /dev/serial/by-path name, so the same socket keeps its port number across re-plugging.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <set>
#include <string_view>

#include "transport/port_table.h"

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 6> kTtyPrefixes = {
    "ttyUSB", "ttyACM", "ttyAMA", "ttyXRUSB", "rfcomm",
#if defined(__APPLE__)
    "cu.usb",
#else
    "ttyHS",
#endif
};

bool IsSerialName(std::string_view name) {
    return std::any_of(kTtyPrefixes.begin(), kTtyPrefixes.end(),
                       [name](std::string_view p) { return name.substr(0, p.size()) == p; });
}

// "ttyUSB2" before "ttyUSB10": texts compare with their trailing numbers as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        std::size_t cut = s.size();
        while (cut > 0 && s[cut - 1] >= '0' && s[cut - 1] <= '9') --cut;
        return cut;
    };
    const std::size_t ca = split(a), cb = split(b);
    const std::string_view ha(a.data(), ca), hb(b.data(), cb);
    if (ha != hb || ca == a.size() || cb == b.size()) return a < b;
    const std::string_view na = std::string_view(a).substr(ca), nb = std::string_view(b).substr(cb);
    if (na.size() != nb.size()) return na.size() < nb.size();
    return na < nb;
}

std::vector<std::string> SortedEntries(const fs::path& dir, bool (*want)(const fs::path&)) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (want(it->path())) names.push_back(it->path().string());
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

}  // namespace

std::vector<std::string> PORTTABLE_ScanDevicesIn(const std::string& devDir) {
    std::vector<std::string> found;
    std::set<fs::path> covered;  // the ttys already listed, by their resolved path
    auto add = [&](const std::string& device) {
        std::error_code ec;
        const fs::path target = fs::canonical(device, ec);
        if (ec) return;  // a link whose device is gone
        if (covered.insert(target).second) found.push_back(device);
    };

    const fs::path dev(devDir);
    for (const std::string& link : SortedEntries(dev / "serial" / "by-path", [](const fs::path& p) {
             std::error_code ec;
             return fs::is_symlink(p, ec);
         })) {
        add(link);
    }
    for (const std::string& tty : SortedEntries(
             dev, [](const fs::path& p) { return IsSerialName(p.filename().string()); })) {
        add(tty);
    }
    return found;
}

std::vector<std::string> PORTTABLE_ScanDevices() {
    return PORTTABLE_ScanDevicesIn("/dev");
}

std::string PORTTABLE_DeviceIdentity(const std::string& device) {
    struct stat st {};
    if (device.empty() || ::stat(device.c_str(), &st) != 0) return device;
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
        return "node " + std::to_string(static_cast<unsigned long long>(st.st_rdev));
    }
    return "file " + std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
}
