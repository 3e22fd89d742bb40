// The port table: port number -> device. The window, the command line and the workers use it
// from different threads, so every access holds the table's mutex.
#include "transport/port_table.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <string_view>

#include "config/ini_file.h"

namespace {

constexpr const char* kSection = "PORTS";

std::mutex g_tableMutex;
std::map<int, std::string> g_table;  // guarded by g_tableMutex

bool InRange(int portNumber) {
    return portNumber >= 1 && portNumber <= kMaxPortNumber;
}

std::string KeyOf(int portNumber) {
    return "COM" + std::to_string(portNumber);
}

int FindLocked(const std::string& device) {
    for (const auto& [number, path] : g_table) {
        if (path == device) return number;
    }
    return 0;
}

#if defined(_WIN32)
// n for "\\.\COMn" or "COMn", else 0.
int ComNumber(const std::string& device) {
    std::string_view rest(device);
    if (rest.substr(0, 4) == "\\\\.\\") rest.remove_prefix(4);
    if (rest.size() < 4 || (rest.substr(0, 3) != "COM" && rest.substr(0, 3) != "com")) return 0;
    rest.remove_prefix(3);
    int n = 0;
    for (char c : rest) {
        if (c < '0' || c > '9' || n > kMaxPortNumber) return 0;
        n = n * 10 + (c - '0');
    }
    return InRange(n) ? n : 0;
}
#endif

}  // namespace

std::string PORTTABLE_Device(int portNumber) {
    if (!InRange(portNumber)) return std::string();
#if defined(_WIN32)
    return "\\\\.\\COM" + std::to_string(portNumber);
#else
    std::lock_guard<std::mutex> lock(g_tableMutex);
    auto it = g_table.find(portNumber);
    return it == g_table.end() ? std::string() : it->second;
#endif
}

int PORTTABLE_Assign(const std::string& device) {
    if (device.empty()) return 0;
#if defined(_WIN32)
    if (const int n = ComNumber(device)) return n;
#endif
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (const int n = FindLocked(device)) return n;
    for (int n = 1; n <= kMaxPortNumber; ++n) {
        if (g_table.count(n) == 0) {
            g_table.emplace(n, device);
            return n;
        }
    }
    return 0;
}

int PORTTABLE_Find(const std::string& device) {
    if (device.empty()) return 0;
#if defined(_WIN32)
    if (const int n = ComNumber(device)) return n;
#endif
    std::lock_guard<std::mutex> lock(g_tableMutex);
    return FindLocked(device);
}

void PORTTABLE_Set(int portNumber, const std::string& device) {
    if (!InRange(portNumber)) return;
    std::lock_guard<std::mutex> lock(g_tableMutex);
    if (device.empty()) {
        g_table.erase(portNumber);
        return;
    }
    // A device has one number: setting it elsewhere moves it.
    if (const int old = FindLocked(device); old != 0 && old != portNumber) g_table.erase(old);
    g_table[portNumber] = device;
}

void PORTTABLE_Clear() {
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_table.clear();
}

int PORTTABLE_Load(const std::string& iniPath) {
    IniDocument doc;
    if (!doc.Load(iniPath)) return 0;
    std::map<int, std::string> loaded;
    for (int n = 1; n <= kMaxPortNumber; ++n) {
        std::string device;
        if (!doc.Get(kSection, KeyOf(n).c_str(), &device) || device.empty()) continue;
        bool seen = false;  // a device listed twice keeps its first number
        for (const auto& [number, path] : loaded) seen = seen || path == device;
        if (!seen) loaded.emplace(n, std::move(device));
    }
    std::lock_guard<std::mutex> lock(g_tableMutex);
    g_table = std::move(loaded);
    return 1;
}

int PORTTABLE_Save(const std::string& iniPath) {
    std::map<int, std::string> table;
    {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        table = g_table;
    }
    // Keep the rest of the file; one replace writes every key.
    IniDocument doc;
    if (!doc.Load(iniPath)) return 0;
    for (int n = 1; n <= kMaxPortNumber; ++n) {
        const std::string key = KeyOf(n);
        auto it = table.find(n);
        if (it != table.end()) {
            doc.Set(kSection, key.c_str(), it->second);
        } else if (std::string old; doc.Get(kSection, key.c_str(), &old) && !old.empty()) {
            doc.Set(kSection, key.c_str(), std::string());  // a number given up
        }
    }
    return doc.Save(iniPath);
}

std::string PORTTABLE_ShortName(const std::string& device) {
#if defined(_WIN32)
    const auto cut = device.find_last_of("\\/");
    return cut == std::string::npos ? device : device.substr(cut + 1);
#else
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path(device);
    if (fs::is_symlink(path, ec)) {
        const fs::path target = fs::canonical(path, ec);
        if (!ec) return target.filename().string();
    }
    return path.filename().string();
#endif
}
