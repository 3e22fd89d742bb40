#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "transport/port_identity.h"

#if defined(PELOR_HAVE_UDEV)
#include <libudev.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string Canonical(const fs::path& path) {
    std::error_code ec;
    const fs::path target = fs::canonical(path, ec);
    return ec ? std::string() : target.string();
}

// What udev knows of the node: false when it does not know the device (no udev, a
// pseudo-terminal); else its ID_SERIAL_SHORT, empty for a device without a serial number.
bool UdevSerial(const std::string& node, std::string& serial) {
#if defined(PELOR_HAVE_UDEV)
    struct stat info {};
    if (::stat(node.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), &udev_unref);
    if (!context) return false;
    std::unique_ptr<udev_device, decltype(&udev_device_unref)> device(
        udev_device_new_from_devnum(context.get(), 'c', info.st_rdev), &udev_device_unref);
    if (!device || udev_device_get_is_initialized(device.get()) <= 0) return false;
    // A USB device udev has looked at carries its bus; without it, udev knows nothing of a
    // serial number and the names may tell.
    if (udev_device_get_property_value(device.get(), "ID_BUS") == nullptr) return false;
    const char* value = udev_device_get_property_value(device.get(), "ID_SERIAL_SHORT");
    serial = value != nullptr ? value : "";
    return true;
#else
    (void)node;
    (void)serial;
    return false;
#endif
}

}  // namespace

std::string PORT_IDENTITY_SerialNumber(const std::string& device) {
    if (device.empty() || device.rfind("loop:", 0) == 0) return {};
    const std::string node = Canonical(device);
    if (node.empty()) return {};
    // udev's word is final where it knows the device: a by-id name of a device without a serial
    // number ends in its model, which is not a serial number.
    if (std::string serial; UdevSerial(node, serial)) return serial;
    const fs::path folder = fs::path(device).parent_path();
    std::vector<fs::path> byId = {folder / "by-id", folder.parent_path() / "by-id",
                                  "/dev/serial/by-id"};
    for (const fs::path& dir : byId) {
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            if (Canonical(it->path()) != node) continue;
            std::string serial = PORT_IDENTITY_SerialFromByIdName(it->path().filename().string());
            if (!serial.empty()) return serial;
        }
    }
    return {};
}
