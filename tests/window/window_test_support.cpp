#include "window_test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "config/remembered_folders.h"
#include "config/settings.h"
#include "jobs/runner.h"
#include "transport/port_table.h"

namespace window_test {

StationFolder::StationFolder() {
    std::error_code ec;
    previous_ = std::filesystem::current_path(ec).string();
    std::filesystem::current_path(dir_.path(), ec);
    path_ = std::filesystem::current_path(ec).string();
    SETTINGS_ResetGlobals();
    REG_SetConfigRootForTesting((std::filesystem::path(dir_.path()) / "config").string());
    PORTTABLE_Clear();
    station_.MakeDefault();
}

StationFolder::~StationFolder() {
    PORTTABLE_Clear();
    REG_SetConfigRootForTesting("");
    SETTINGS_ResetGlobals();
    std::error_code ec;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ec);
}

std::string StationFolder::operator/(const std::string& name) const {
    return (std::filesystem::path(path_) / name).string();
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

}  // namespace window_test
