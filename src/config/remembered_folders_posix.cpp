// The remembered folders in an INI file in the user's configuration folder.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>

#include "config/ini_file.h"
#include "config/remembered_folders.h"

namespace {

constexpr const char* kVendorFolder = "VELDRIN";
constexpr const char* kStoreFile = "QUILLSTREAM.ini";

std::mutex g_rootMutex;
std::string g_rootOverride;  // guarded by g_rootMutex

// The configuration folder: the override, $XDG_CONFIG_HOME (absolute only), $HOME/.config.
std::string ConfigRoot() {
    {
        std::lock_guard<std::mutex> lock(g_rootMutex);
        if (!g_rootOverride.empty()) return g_rootOverride;
    }
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return std::string(home) + "/.config";
    return {};
}

std::string VendorFolder() {
    const std::string root = ConfigRoot();
    return root.empty() ? std::string() : root + "/" + kVendorFolder;
}

bool MakeFolder(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ValidName(const char* valueName) {
    return valueName != nullptr && valueName[0] != '\0';
}

}  // namespace

std::string REG_StoreLocation() {
    const std::string folder = VendorFolder();
    return folder.empty() ? std::string() : folder + "/" + kStoreFile;
}

std::string REG_ReadFolder(const char* valueName) {
    const std::string path = REG_StoreLocation();
    if (path.empty() || !ValidName(valueName)) return {};
    return INI_GetString(path, kRegKeyPath, valueName, std::string());
}

int REG_WriteFolder(const char* valueName, const std::string& value) {
    const std::string root = ConfigRoot();
    if (root.empty() || !ValidName(valueName)) return 0;
    // A line break cannot be kept in the file; such a path is not stored rather than cut.
    if (value.find_first_of("\r\n") != std::string::npos) return 0;
    if (!MakeFolder(root, 0700) || !MakeFolder(VendorFolder(), 0755)) return 0;
    return INI_WriteString(REG_StoreLocation(), kRegKeyPath, valueName, value);
}

void REG_SetConfigRootForTesting(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_rootMutex);
    g_rootOverride = path;
}
