#pragma once
// A private folder for the simulation's image files: in memory (/dev/shm) where there is one,
// else under $TMPDIR; removed with everything in it at the end.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace linksim {

class WorkDir {
public:
    WorkDir() {
        namespace fs = std::filesystem;
        std::error_code ec;
        const char* tmp = std::getenv("TMPDIR");
        const fs::path base = fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0
                                  ? fs::path("/dev/shm")
                                  : fs::path(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp");
        path_ = (base / ("pelor-linksim-" + std::to_string(::getpid()))).string();
        fs::create_directories(path_, ec);
    }
    ~WorkDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace linksim
