#include "flash_inputs.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "config/ini_file.h"
#include "config/settings.h"
#include "jobs/address_text.h"

namespace fs = std::filesystem;

namespace {

// A job file is a short text; anything much larger is not one.
constexpr std::uintmax_t kMaxJobFileBytes = 1024 * 1024;

std::string Trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const char* b) {
    const std::string other(b);
    if (a.size() != other.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(other[i])))
            return false;
    }
    return true;
}

}  // namespace

bool CLI_HasJobSection(const std::string& text) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::string t = Trimmed(line);
        if (t.size() < 2 || t.front() != '[') continue;
        const auto close = t.find(']');
        if (close == std::string::npos) continue;
        if (SameName(Trimmed(t.substr(1, close - 1)), kSettingsSection)) return true;
    }
    return false;
}

bool CLI_ApplyJobFile(FlashOptions& o, std::string* error) {
    if (o.job.empty()) return true;
    std::error_code ec;
    const fs::file_status status = fs::status(o.job, ec);
    if (!fs::exists(status)) {
        *error = "job file " + o.job + " does not exist";
        return false;
    }
    if (fs::is_directory(status)) {
        *error = o.job + " is a folder, not a job file";
        return false;
    }
    const std::uintmax_t size = fs::file_size(o.job, ec);
    if (!ec && size > kMaxJobFileBytes) {
        *error = o.job + " is not a job file: " + std::to_string(size) +
                 " bytes, no job file is that large";
        return false;
    }
    std::ifstream in(o.job, std::ios::binary);
    if (!in) {
        *error = "cannot read job file " + o.job;
        return false;
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!CLI_HasJobSection(text)) {
        *error = o.job + " is not a job file: no [" + std::string(kSettingsSection) + "] section";
        return false;
    }

    const char* section = kSettingsSection;
    if (o.codeDir.empty() && SETTINGS_JobRowChecked(o.job, "CODECHECK")) {
        o.codeDir = INI_GetString(o.job, section, "CODEFILE", std::string());
    }
    if (o.resource.empty() && SETTINGS_JobRowChecked(o.job, "ETC2CHECK")) {
        o.resource = INI_GetString(o.job, section, "ETC2FILE", std::string());
        if (o.resourceAddress.empty()) {
            const std::string address = INI_GetString(o.job, section, "ETC2ADDRESS", std::string());
            if (!address.empty() && !PELOR_IsAddressText(address)) {
                *error = o.job + ": ETC2ADDRESS \"" + address +
                         "\" is not an address: the window stores 1 to 8 hexadecimal digits "
                         "(give --resource-address to override it)";
                return false;
            }
            o.resourceAddress = address;
        }
    }
    return true;
}
