// The entry table and the one build both front ends call.
#include "resources/resource_builder.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "config/paths.h"
#include "resources/resource_scan.h"

RESOURCE_ENTRY g_ResourceEntries[kResourceMaxEntries];
int g_nResourceCount = 0;
char g_szResourceNamePrefix[260];
std::uint8_t g_bResourceScanNested = 0;
char g_szResourceOutPath[1024];

namespace {

std::mutex g_buildMutex;  // one build at a time owns the table

int Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return 0;
}

}  // namespace

std::string RESOURCE_ProgressText(int k, int n) {
    int percent = 0;
    if (n > 0 && k > 0) {
        percent = static_cast<int>(100LL * k / n);
        if (percent > 100) percent = 100;
    }
    char text[64];
    std::snprintf(text, sizeof text, kResourceProgressFormat, percent, k + 1, n);
    return text;
}

std::string RESOURCE_OutputPath(const std::string& folder, const std::string& outputPath) {
    if (!outputPath.empty()) return outputPath;
    std::string path = folder;
    if (!path.empty() && !IsPathSeparator(path.back())) path += kPathSeparator;
    return path + kResourceBinaryName;
}

void RESOURCE_ClearEntries() {
    for (RESOURCE_ENTRY& entry : g_ResourceEntries) {
        std::memset(entry.szName, 0, sizeof entry.szName);
    }
    g_nResourceCount = 0;
    g_szResourceNamePrefix[0] = '\0';
    g_bResourceScanNested = 0;
}

int RESOURCE_BuildBinary(const std::string& folder, const std::string& outputPath,
                         const ResourceProgressFn& progress, std::string* error, bool* refused) {
    std::lock_guard lock(g_buildMutex);
    bool scratch = false;
    bool& inputRefused = refused != nullptr ? *refused : scratch;
    inputRefused = false;
    if (folder.empty()) return Fail(error, "no resource folder given");

    std::string root = folder;
    if (!IsPathSeparator(root.back())) root += kPathSeparator;
    if (root.size() >= sizeof g_szResourceOutPath) {
        return Fail(error, "Folder path too long: " + folder + " (at most " +
                               std::to_string(sizeof g_szResourceOutPath - 2) + " characters)");
    }
    std::memcpy(g_szResourceOutPath, root.c_str(), root.size() + 1);

    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) {
        inputRefused = true;
        return Fail(error, ec ? "cannot open folder " + folder + ": " + ec.message()
                              : folder + " is not a folder");
    }

    const std::string output = RESOURCE_OutputPath(root, outputPath);
    // Every build starts from an empty table and leaves it empty.
    RESOURCE_ClearEntries();
    int ok = RESOURCE_ScanTree(std::string(), root, output, error);
    inputRefused = ok == 0;
    if (ok) ok = WriteResourceBinary(root, output, progress, error);
    RESOURCE_ClearEntries();
    return ok;
}
