#include <windows.h>

#include <memory>
#include <type_traits>

#include "resources/resource_listing.h"

namespace {

struct FindCloser {
    void operator()(HANDLE find) const { ::FindClose(find); }
};
using UniqueFind = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

std::string ErrorText(DWORD code) {
    return "Windows error " + std::to_string(static_cast<unsigned long>(code));
}

}  // namespace

ResourceListResult RESOURCE_ListFolder(const std::string& folder, bool (*keep)(std::string_view),
                                       std::size_t maxNames, std::vector<std::string>& names,
                                       std::string* error) {
    std::string pattern = folder;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += "*.*";

    WIN32_FIND_DATAA data{};
    HANDLE first = ::FindFirstFileA(pattern.c_str(), &data);
    if (first == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return ResourceListResult::kListed;  // empty root
        if (code == ERROR_PATH_NOT_FOUND || code == ERROR_DIRECTORY || code == ERROR_INVALID_NAME) {
            return ResourceListResult::kNotAFolder;
        }
        if (error) *error = "cannot list folder " + folder + ": " + ErrorText(code);
        return ResourceListResult::kFailed;
    }
    UniqueFind find(first);
    std::size_t kept = 0;
    do {
        if (!keep(data.cFileName)) continue;
        if (++kept > maxNames) return ResourceListResult::kTooMany;
        names.emplace_back(data.cFileName);
    } while (::FindNextFileA(find.get(), &data));
    const DWORD code = ::GetLastError();
    if (code != ERROR_NO_MORE_FILES) {
        if (error) *error = "cannot list folder " + folder + ": " + ErrorText(code);
        return ResourceListResult::kFailed;
    }
    return ResourceListResult::kListed;
}
