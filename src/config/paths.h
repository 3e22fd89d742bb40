#pragma once
// Path separator of the platform. Where the station joins "%s\%s" it joins with this.
#include <string>

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

inline bool IsPathSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

// folder + separator + name, as "%s\%s" does (no check for a doubled separator).
inline std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + kPathSeparator + name;
}
