#include "flash_inputs.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <system_error>
#include <vector>

#include "config/ini_file.h"
#include "config/settings.h"
#include "jobs/address_text.h"
#include "jobs/download_plan.h"

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

bool ReadableFile(const std::string& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    return static_cast<bool>(in);
}

std::string FileName(const std::string& path) {
    return fs::path(path).filename().string();
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
    std::string out;
    for (const std::string& item : items) {
        if (!out.empty()) out += separator;
        out += item;
    }
    return out;
}

// What is wrong with the code folder, or empty when every image the run needs is there.
std::string CodeFolderProblem(const std::string& folder) {
    std::error_code ec;
    const fs::file_status status = fs::status(folder, ec);
    if (!fs::exists(status)) return "the code folder " + folder + " does not exist";
    if (!fs::is_directory(status)) {
        return folder + " is a file; --code takes the folder that holds the .mbn images";
    }
    std::vector<std::string> expected;
    std::vector<std::string> missing;
    for (int slot = 5; slot <= 12; ++slot) {
        if (slot >= 6 && slot <= 10 && !g_bChangeBootArea) continue;
        const std::string path = PELOR_CodeImagePath(slot);
        expected.push_back(FileName(path));
        if (!ReadableFile(path)) missing.push_back(FileName(path));
    }
    if (missing.empty()) return {};
    std::string text = "the code folder " + folder + " lacks " + Joined(missing, ", ");
    if (missing.size() < expected.size()) text += " (it needs " + Joined(expected, ", ") + ")";
    if (missing.size() == expected.size()) text += " (it holds none of the images it needs)";
    return text;
}

std::string ResourceProblem(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) return "the resource image " + path + " does not exist";
    if (fs::is_directory(status)) {
        return "the resource image " + path + " is a folder; pack it first with `pelor build-rsc " +
               path + "`";
    }
    if (!ReadableFile(path)) return "the resource image " + path + " cannot be read";
    return {};
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
    if (o.codeDir.empty() && INI_GetInt(o.job, section, "CODECHECK", 1) == 1) {
        o.codeDir = INI_GetString(o.job, section, "CODEFILE", std::string());
    }
    if (o.resource.empty() && INI_GetInt(o.job, section, "ETC2CHECK", 0) == 1) {
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

bool CLI_CheckImageFiles(const FlashOptions& o, std::string* error) {
    std::vector<std::string> problems;
    if (!o.codeDir.empty()) {
        std::string problem = CodeFolderProblem(o.codeDir);
        if (!problem.empty()) problems.push_back(std::move(problem));
    }
    if (!o.resource.empty()) {
        std::string problem = ResourceProblem(o.resource);
        if (!problem.empty()) problems.push_back(std::move(problem));
    }
    if (problems.empty()) return true;
    *error = "ERR: No File: " + Joined(problems, "; ");
    return false;
}
