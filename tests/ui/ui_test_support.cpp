#include "ui_test_support.h"

#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "config/remembered_folders.h"
#include "config/settings.h"
#include "jobs/runner.h"
#include "transport/port_table.h"

namespace ui_test {

StationFolder::StationFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/pelor-ui-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    char cwd[4096] = {};
    if (::getcwd(cwd, sizeof cwd) != nullptr) previous_ = cwd;
    if (!path_.empty() && ::chdir(path_.c_str()) != 0) path_.clear();
    SETTINGS_ResetGlobals();
    REG_SetConfigRootForTesting(path_ + "/config");
    PORTTABLE_Clear();
    station_.MakeDefault();
}

StationFolder::~StationFolder() {
    PORTTABLE_Clear();
    REG_SetConfigRootForTesting("");
    SETTINGS_ResetGlobals();
    if (!previous_.empty() && ::chdir(previous_.c_str()) != 0) {
        // Nothing better to do: the next test makes its own folder current anyway.
    }
    if (!path_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string MakeCodeFolder(const std::string& root, std::size_t amssBytes) {
    const std::string folder = root + "/WZRTAll";
    std::filesystem::create_directories(folder);
    auto pattern = [](std::size_t size, unsigned seed) {
        std::string bytes(size, '\0');
        unsigned x = seed * 2654435761u + 1u;
        for (char& b : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<char>(x >> 24);
        }
        return bytes;
    };
    WriteAll(folder + "/partition.mbn", pattern(4096, 1));
    WriteAll(folder + "/WZRTAllhd.mbn", pattern(1500, 2));
    WriteAll(folder + "/WZRTAll.mbn", pattern(amssBytes, 3));
    return folder;
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

std::chrono::microseconds ThreadCpuTime() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

}  // namespace ui_test
