// The remembered folders as string values in the registry.
#include <windows.h>

#include <string>
#include <vector>

#include "config/remembered_folders.h"

namespace {

// Closes the key on every way out.
class RegKey {
public:
    RegKey() = default;
    ~RegKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

std::string REG_StoreLocation() {
    return std::string("HKEY_LOCAL_MACHINE\\") + kRegKeyPath;
}

std::string REG_ReadFolder(const char* valueName) {
    if (valueName == nullptr) return {};
    RegKey key;
    // Reading needs no more than query access, so users without write rights still get it.
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegKeyPath, 0, KEY_QUERY_VALUE, key.Out()) !=
        ERROR_SUCCESS) {
        return {};
    }
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), valueName, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return {};
    }
    // Sized from the stored length, plus a terminator that the stored data need not have.
    std::vector<char> buffer(static_cast<std::size_t>(size) + 1, '\0');
    DWORD got = size;
    if (RegQueryValueExA(key.Get(), valueName, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(buffer.data()), &got) != ERROR_SUCCESS) {
        return {};
    }
    buffer[got < size ? got : size] = '\0';
    return std::string(buffer.data());
}

int REG_WriteFolder(const char* valueName, const std::string& value) {
    if (valueName == nullptr) return 0;
    RegKey key;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRegKeyPath, 0, const_cast<char*>(kRegKeyClass),
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, key.Out(),
                        &disposition) != ERROR_SUCCESS) {
        return 0;
    }
    // The stored length counts the characters only, without a terminator.
    const LONG rc = RegSetValueExA(key.Get(), valueName, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size()));
    return rc == ERROR_SUCCESS ? 1 : 0;
}

void REG_SetConfigRootForTesting(const std::string&) {}
