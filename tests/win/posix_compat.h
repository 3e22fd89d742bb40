#pragma once
// Force-included into every Windows test program: the handful of POSIX calls the shared test
// helpers use for temporary folders and environment variables, mapped onto the C runtime, so
// the same test sources build on both systems. Cases whose subject is POSIX behaviour itself
// (file modes, signals, resource limits, FIFOs, symbolic links) are left out by name in
// posix_only_cases.cmake.
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <process.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

// Replaces the trailing "XXXXXX" and creates the folder; the template on success, else null.
inline char* mkdtemp(char* templ) {
    const std::size_t n = std::strlen(templ);
    if (n < 6 || std::strcmp(templ + n - 6, "XXXXXX") != 0) {
        errno = EINVAL;
        return nullptr;
    }
    static std::atomic<unsigned> counter{0};
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 1000; ++attempt) {
        unsigned long long v = static_cast<unsigned long long>(
                                   std::chrono::steady_clock::now().time_since_epoch().count()) ^
                               (static_cast<unsigned long long>(_getpid()) << 20) ^
                               (counter++ * 0x9E3779B97F4Aull);
        for (std::size_t i = n - 6; i < n; ++i) {
            templ[i] = kDigits[v % 36];
            v /= 36;
        }
        if (_mkdir(templ) == 0) return templ;
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
}

inline int setenv(const char* name, const char* value, int overwrite) {
    if (!overwrite && std::getenv(name) != nullptr) return 0;
    return _putenv_s(name, value) == 0 ? 0 : -1;
}
inline int unsetenv(const char* name) {
    return _putenv_s(name, "") == 0 ? 0 : -1;  // an empty value removes the variable
}

inline int mkdir(const char* path, int /*mode*/) {
    return _mkdir(path);
}
// std::filesystem paths are wide on Windows.
inline int chmod(const wchar_t* path, int mode) {
    return _wchmod(path, mode);
}
inline int symlink(const char*, const char*) {
    errno = ENOSYS;
    return -1;
}
inline long readlink(const char*, char*, std::size_t) {
    errno = ENOSYS;
    return -1;
}
inline int mkfifo(const char*, int) {
    errno = ENOSYS;
    return -1;
}
// Nobody is root; the cases that depend on file modes are left out instead.
inline unsigned geteuid() {
    return 1000;
}
#endif
