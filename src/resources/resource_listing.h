#pragma once
// Platform directory enumeration for the resource scan (opendir/readdir on POSIX,
// FindFirstFileA/FindNextFileA on Windows).
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

enum class ResourceListResult {
    kListed,      // names holds the kept names, in the order the platform returned them
    kNotAFolder,  // the path names no folder (a file, or nothing): it contributes nothing
    kTooMany,     // more than maxNames names were kept
    kFailed,      // the folder exists but cannot be listed; *error says why
};

// Appends to names every entry of folder (including "." and ".." when the platform returns
// them) for which keep(name) is true, stopping with kTooMany once more than maxNames are kept.
ResourceListResult RESOURCE_ListFolder(const std::string& folder, bool (*keep)(std::string_view),
                                       std::size_t maxNames, std::vector<std::string>& names,
                                       std::string* error);
