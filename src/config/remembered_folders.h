#pragma once
// The last folders the operator picked, remembered across runs: "BIN_FILE" (the code image
// folder) and "RSC_FILE" (the resource image file). On Windows they are registry values under
// HKEY_LOCAL_MACHINE\SOFTWARE\VELDRIN\QUILLSTREAM; elsewhere they live in the INI file
// "<config>/VELDRIN/QUILLSTREAM.ini", section "SOFTWARE\VELDRIN\QUILLSTREAM", where <config> is
// $XDG_CONFIG_HOME, else $HOME/.config. Paths are stored whole, whatever their length.
#include <string>

inline constexpr const char* kRegKeyPath = "SOFTWARE\\VELDRIN\\QUILLSTREAM";
inline constexpr const char* kRegKeyClass = "Veldrin Unified Writer";
inline constexpr const char* kRegBinFile = "BIN_FILE";
inline constexpr const char* kRegRscFile = "RSC_FILE";

// The stored value, or empty text on any failure (no store, no value, unreadable).
std::string REG_ReadFolder(const char* valueName);
// 1 when the value was stored, 0 otherwise (nothing stored). Creates the store as needed.
int REG_WriteFolder(const char* valueName, const std::string& value);

// Where the store lives on this platform (a file path, or the registry key's text on Windows).
std::string REG_StoreLocation();
// Puts the store's configuration folder elsewhere (tests); an empty path restores the default.
// Has no effect on Windows, where the store is the registry.
void REG_SetConfigRootForTesting(const std::string& path);
