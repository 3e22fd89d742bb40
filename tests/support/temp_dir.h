#pragma once
// A private temporary folder for one test, under $TMPDIR (or /tmp), removed with everything in it
// at the end, including folders a test took write access away from.
// A test that hands files to another user asks for TempDir(TempDir::kForOtherUsers): a folder
// under the system's temporary folder whatever TMPDIR says (a TMPDIR inside a private home
// folder is out of the other user's reach), readable and searchable by everyone.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        Make(base != nullptr && base[0] != '\0' ? base : "/tmp");
    }
#if !defined(_WIN32)
    enum ForOtherUsers { kForOtherUsers };
    explicit TempDir(ForOtherUsers) {
        if (Make(P_tmpdir) && ::chmod(path_.c_str(), 0755) != 0) {
            std::error_code ec;
            std::filesystem::remove(path_, ec);
            path_.clear();
        }
    }
#endif
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

    const std::string& path() const {
        return path_;
    }
    std::string File(const std::string& name) const {
        return path_ + "/" + name;
    }
    std::string operator/(const std::string& name) const {
        return File(name);
    }

private:
    bool Make(const std::string& base) {
        std::string templ = base + "/pelor-test-XXXXXX";
        std::vector<char> name(templ.begin(), templ.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) != nullptr) path_ = name.data();
        return !path_.empty();
    }

    std::string path_;
};
