// Recursive folder scan that fills the entry table.
#include "resources/resource_scan.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "config/paths.h"
#include "resources/resource_builder.h"
#include "resources/resource_listing.h"

namespace fs = std::filesystem;

namespace {

struct ScanContext {
    const std::string& root;
    fs::path excluded;                // empty: nothing excluded
    std::vector<fs::path> ancestors;  // folders being scanned, root first
    std::string* error;
};

int Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return 0;
}

void SetPrefix(const std::string& prefix) {
    const std::size_t n = std::min(prefix.size(), sizeof g_szResourceNamePrefix - 1);
    std::memcpy(g_szResourceNamePrefix, prefix.data(), n);
    g_szResourceNamePrefix[n] = '\0';
}

// True when folder is one of the folders being scanned (a link back up the tree).
bool IsBeingScanned(const ScanContext& ctx, const fs::path& folder) {
    for (const fs::path& ancestor : ctx.ancestors) {
        std::error_code ec;
        if (fs::equivalent(folder, ancestor, ec)) return true;
    }
    return false;
}

// Whether this process may read the file (checked without opening it: a build measures every
// file of the tree).
bool Readable(const std::string& path) {
#if defined(_WIN32)
    return ::_access(path.c_str(), 4) == 0;
#else
    return ::access(path.c_str(), R_OK) == 0;
#endif
}

const char* KindOf(fs::file_type type) {
    switch (type) {
        case fs::file_type::fifo:
            return "a FIFO";
        case fs::file_type::socket:
            return "a socket";
        case fs::file_type::character:
            return "a character device";
        case fs::file_type::block:
            return "a block device";
        default:
            return "not a regular file";
    }
}

// A link that leads nowhere: a file or folder of the tree has gone.
bool IsBrokenLink(const std::string& path) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(path, ec))) return false;
    const fs::file_status target = fs::status(path, ec);
    return target.type() == fs::file_type::not_found ||
           ec == std::errc::too_many_symbolic_link_levels;
}

// Length of the entry at path: a regular file's size, 0 for a folder taken as a file (never read
// as data). Anything else packed under a file's name would be an empty resource nobody meant: a
// link that leads nowhere, a FIFO, a device, a file that cannot be read is refused by name.
int MeasureEntry(const std::string& path, std::uint32_t& size, std::string* error) {
    size = 0;
    if (IsBrokenLink(path)) {
        return Fail(error, "Not a file: " + path + " is a link that leads to nothing");
    }
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec) return Fail(error, "cannot examine " + path + ": " + ec.message());
    if (fs::is_directory(status)) return 1;
    if (!fs::is_regular_file(status)) {
        return Fail(error, std::string("Not a file: ") + path + " is " + KindOf(status.type()) +
                               "; only regular files are packed");
    }
    const std::uintmax_t length = fs::file_size(path, ec);
    if (ec) return Fail(error, "cannot examine " + path + ": " + ec.message());
    if (length > std::numeric_limits<std::uint32_t>::max()) {
        return Fail(error, "File too large: " + path + " (a resource file holds at most " +
                               std::to_string(std::numeric_limits<std::uint32_t>::max()) +
                               " bytes)");
    }
    if (!Readable(path)) return Fail(error, "cannot open " + path + ": " + std::strerror(errno));
    size = static_cast<std::uint32_t>(length);
    return 1;
}

bool IsExcluded(const ScanContext& ctx, const std::string& path) {
    if (ctx.excluded.empty()) return false;
    std::error_code ec;
    return fs::equivalent(path, ctx.excluded, ec);
}

int RecordFile(ScanContext& ctx, const std::string& relativePath, const std::string& name) {
    const std::string fullPath = ctx.root + relativePath;
    if (IsExcluded(ctx, fullPath)) return 1;
    if (g_nResourceCount >= kResourceMaxEntries) {
        return Fail(ctx.error, "Too many files: the resource table holds " +
                                   std::to_string(kResourceMaxEntries));
    }
    std::uint32_t size = 0;
    if (!MeasureEntry(fullPath, size, ctx.error)) return 0;
    RESOURCE_ENTRY& entry = g_ResourceEntries[g_nResourceCount];
    std::memset(&entry, 0, sizeof entry);
    std::memcpy(entry.szPath, relativePath.data(), relativePath.size());
    std::memcpy(entry.szName, name.data(), name.size());
    entry.dwSize = size;
    ++g_nResourceCount;
    return 1;
}

int ScanFolder(ScanContext& ctx, const std::string& relativeFolder) {
    std::string relative = relativeFolder;
    const bool isRoot = g_bResourceScanNested == 0;
    if (!isRoot) {
        relative += kPathSeparator;
        SetPrefix(std::string(g_szResourceNamePrefix) + '/');
    }
    g_bResourceScanNested = 1;

    const std::string folder = ctx.root + relative;
    std::vector<std::string> names;
    std::string why;
    switch (
        RESOURCE_ListFolder(folder, RESOURCE_IsNameKept, kResourceMaxFolderNames, names, &why)) {
        case ResourceListResult::kListed:
            break;
        case ResourceListResult::kNotAFolder:
            // An extension-less file taken as a folder contributes nothing; the root must list.
            return isRoot ? Fail(ctx.error, folder + " is not a folder") : 1;
        case ResourceListResult::kTooMany:
            return Fail(ctx.error, "Too many names in folder " + folder +
                                       ": a folder listing holds " +
                                       std::to_string(kResourceMaxFolderNames) +
                                       " (\".\" and \"..\" included)");
        case ResourceListResult::kFailed:
            return Fail(ctx.error, why);
    }
    // Byte order, so the same tree gives the same file whatever order the platform lists in.
    std::sort(names.begin(), names.end());

    const std::string savedPrefix = g_szResourceNamePrefix;
    for (const std::string& name : names) {
        if (name == "." || name == "..") continue;
        const std::string path = relative + name;
        // A hidden folder (.git, .svn) is the tools' business, not the handset's: skipped with
        // all it holds. A hidden file is packed as any other.
        if (RESOURCE_IsHiddenFolder(name, ctx.root + path)) continue;
        const std::string prefix = savedPrefix + name;
        if (path.size() >= kResourceNameSize || prefix.size() >= kResourceNameSize) {
            return Fail(ctx.error, "Name too long: " + prefix + " (a resource name holds at most " +
                                       std::to_string(kResourceNameSize - 1) + " characters)");
        }
        SetPrefix(prefix);
        if (path.find('.') != std::string::npos) {
            if (!RecordFile(ctx, path, prefix)) return 0;
        } else {
            if (IsBrokenLink(ctx.root + path)) {
                return Fail(ctx.error, "Not a folder: " + ctx.root + path +
                                           " is a link that leads to nothing");
            }
            const fs::path subfolder = ctx.root + path;
            if (!IsBeingScanned(ctx, subfolder)) {
                ctx.ancestors.push_back(subfolder);
                const int ok = ScanFolder(ctx, path);
                ctx.ancestors.pop_back();
                if (!ok) return 0;
            }
        }
        SetPrefix(savedPrefix);
    }
    return 1;
}

}  // namespace

bool RESOURCE_IsNameKept(std::string_view name) {
    return name.find(".bin") == std::string_view::npos &&
           name.find("cvs") == std::string_view::npos && name.find("CVS") == std::string_view::npos;
}

bool RESOURCE_IsHiddenFolder(std::string_view name, const std::string& path) {
    if (name.empty() || name.front() != '.' || name == "." || name == "..") return false;
    std::error_code ec;
    return fs::is_directory(path, ec);
}

int RESOURCE_ScanTree(const std::string& relativeFolder, const std::string& root,
                      const std::string& excludedFile, std::string* error) {
    ScanContext ctx{root, {}, {}, error};
    std::error_code ec;
    if (!excludedFile.empty() && fs::exists(excludedFile, ec)) ctx.excluded = excludedFile;
    ctx.ancestors.emplace_back(root + relativeFolder);
    return ScanFolder(ctx, relativeFolder);
}

int ScanResourceFolder(const std::string& relativeFolder, const std::string& root,
                       std::string* error) {
    return RESOURCE_ScanTree(relativeFolder, root, std::string(), error);
}
