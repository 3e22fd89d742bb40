#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "resources/resource_listing.h"

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

}  // namespace

ResourceListResult RESOURCE_ListFolder(const std::string& folder, bool (*keep)(std::string_view),
                                       std::size_t maxNames, std::vector<std::string>& names,
                                       std::string* error) {
    UniqueDir dir(::opendir(folder.c_str()));
    if (!dir) {
        const int code = errno;
        if (code == ENOTDIR || code == ENOENT) return ResourceListResult::kNotAFolder;
        if (error) *error = "cannot list folder " + folder + ": " + std::strerror(code);
        return ResourceListResult::kFailed;
    }
    std::size_t kept = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0) {
                const int code = errno;
                if (error) *error = "cannot list folder " + folder + ": " + std::strerror(code);
                return ResourceListResult::kFailed;
            }
            return ResourceListResult::kListed;
        }
        if (!keep(entry->d_name)) continue;
        if (++kept > maxNames) return ResourceListResult::kTooMany;
        names.emplace_back(entry->d_name);
    }
}
