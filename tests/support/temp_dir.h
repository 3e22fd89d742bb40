#pragma once
// A private temporary folder for one test, under $TMPDIR (or /tmp), removed with everything in it
// at the end, including folders a test took write access away from.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string templ =
            std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/pelor-test-XXXXXX";
        std::vector<char> name(templ.begin(), templ.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) != nullptr) path_ = name.data();
    }
    ~TempDir() {
        if (path_.empty()) return;
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec)) ::chmod(it->path().c_str(), 0700);
        }
        ::chmod(path_.c_str(), 0700);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string operator/(const std::string& name) const { return File(name); }

private:
    std::string path_;
};
