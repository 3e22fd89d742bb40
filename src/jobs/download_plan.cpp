#include "jobs/download_plan.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

#include "config/paths.h"
#include "config/settings.h"
#include "jobs/address_text.h"
#include "jobs/runner.h"
#include "link/image_table.h"
#include "transport/port_table.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool Readable(const char* path) {
    std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path, "rb"));
    return static_cast<bool>(f);
}

// Copies text into a fixed global, refusing text that does not fit.
template <std::size_t N>
bool Fits(const std::string& text, char (&out)[N]) {
    if (text.size() >= N) return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

std::string TooLong(const char* what, const std::string& text, std::size_t limit) {
    return std::string(what) + " is longer than " + std::to_string(limit) + " characters: " + text;
}

namespace fs = std::filesystem;

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
        return folder + " is a file; the Code row takes the folder that holds the .mbn images";
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
    if (path.empty()) return "no resource image is chosen";
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) return "the resource image " + path + " does not exist";
    if (fs::is_directory(status)) {
        return "the resource image " + path +
               " is a folder; pack it first into a resource binary (Create Resource Binary, or "
               "`pelor build-rsc " +
               path + "`)";
    }
    if (!ReadableFile(path)) return "the resource image " + path + " cannot be read";
    return {};
}

// Every input the filled run would send, each missing one named; empty when all are there.
std::string MissingInputs(const DownloadControls& controls) {
    std::vector<std::string> problems;
    if (controls.codeChecked) {
        std::string problem = CodeFolderProblem(g_szCodeFile);
        if (!problem.empty()) problems.push_back(std::move(problem));
    }
    if (controls.resourceChecked) {
        std::string problem = ResourceProblem(g_szEtc2File);
        if (!problem.empty()) problems.push_back(std::move(problem));
    }
    return Joined(problems, "; ");
}

std::string PortName(int port) {
    return "COM" + std::to_string(port);
}

// What is wrong with the channels' ports, or empty: none at all (unless they may still arrive),
// or one device on two channels, by the same number or by two names of it.
std::string PortProblem(const ChannelPorts& ports, bool portsMayArrive) {
    std::array<std::string, kChannels> identity{};
    bool any = false;
    for (int ch = 0; ch < kChannels; ++ch) {
        if (ports[ch] == 0) continue;
        any = true;
        const std::string device = PORTTABLE_Device(ports[ch]);
        // A number the port table does not know stands for itself.
        identity[ch] = device.empty() ? PortName(ports[ch]) : PORTTABLE_DeviceIdentity(device);
        for (int earlier = 0; earlier < ch; ++earlier) {
            if (ports[earlier] == 0 || identity[earlier] != identity[ch]) continue;
            const std::string channels =
                "channels " + std::to_string(earlier) + " and " + std::to_string(ch);
            if (ports[earlier] == ports[ch]) {
                return PortName(ports[ch]) + " is given to " + channels +
                       ": a handset is written by one channel; give it to one of them";
            }
            return PortName(ports[earlier]) + " and " + PortName(ports[ch]) + " of " + channels +
                   " are one device (" + (device.empty() ? PortName(ports[ch]) : device) +
                   "): a handset is written by one channel; give it to one of them";
        }
    }
    if (!any && !portsMayArrive) {
        return "No port: nothing was started. Choose a COM port for a channel, or turn Auto on "
               "and plug a handset in";
    }
    return {};
}

}  // namespace

int PELOR_CheckDownload(const DownloadControls& controls, const ChannelPorts& ports,
                        std::string* message) {
    std::string scratch;
    std::string& text = message != nullptr ? *message : scratch;
    const int filled = PELOR_FillImages(controls, &text);
    if (filled == DOWNLOAD_REFUSED) return DOWNLOAD_REFUSED;
    // Every file, not only the AMSS and resource images the fill opens: a missing boot file
    // found by the handset's job would come after the erase.
    const std::string missing = MissingInputs(controls);
    if (!missing.empty() || filled != DOWNLOAD_READY) {
        PELOR_ClearImages();
        text = missing.empty() ? text : "ERR: No File: " + missing;
        return DOWNLOAD_NO_FILE;
    }
    const std::string portProblem = PortProblem(ports, controls.portsMayArrive);
    if (!portProblem.empty()) {
        PELOR_ClearImages();
        text = portProblem;
        return DOWNLOAD_REFUSED;
    }
    return DOWNLOAD_READY;
}

std::string PELOR_CodeImagePath(int slot) {
    const std::string folder = g_szImageFolder;
    const std::string base = g_szImageBaseName;
    switch (slot) {
        case 5:
            return JoinPath(folder, "partition.mbn");
        case 6:
            return JoinPath(folder, "pbl.mbn");
        case 7:
            return JoinPath(folder, "qcsblhd_cfgdata.mbn");
        case 8:
            return JoinPath(folder, "qcsbl.mbn");
        case 9:
            return JoinPath(folder, "oemsblhd.mbn");
        case 10:
            return JoinPath(folder, "oemsbl.mbn");
        case 11:
            return folder + base + "hd.mbn";
        case 12:
            return folder + base + ".mbn";
        default:
            return {};
    }
}

int PELOR_FillImages(const DownloadControls& controls, std::string* message) {
    std::string scratch;
    std::string& text = message != nullptr ? *message : scratch;
    text.clear();
    int images = 0;
    PELOR_ClearImages();

    if (controls.codeChecked) {
        if (g_szCodeFile[0] == '\0' || controls.codeAddressText.empty()) {
            text = "Invalid Code Image/Address !";
            return DOWNLOAD_REFUSED;
        }
        ++images;
        if (g_bEraseAllNand) PELOR_SetImage(0, kDummyPath, g_szCodeAddress);
        if (g_bEraseNand) PELOR_SetImage(3, kDummyPath, g_szCodeAddress);
        PELOR_SetImage(4, kDummyPath, g_szCodeAddress);
        for (int slot = 5; slot <= 12; ++slot) {
            if (slot >= 6 && slot <= 10 && !g_bChangeBootArea) continue;
            const std::string path = PELOR_CodeImagePath(slot);
            if (!Fits(path, g_szImagePath)) {
                PELOR_ClearImages();
                text = TooLong("Image path", path, sizeof g_szImagePath - 1);
                return DOWNLOAD_REFUSED;
            }
            if (!Fits(controls.codeAddressText, g_szCodeAddress)) {
                PELOR_ClearImages();
                text =
                    TooLong("Code address", controls.codeAddressText, sizeof g_szCodeAddress - 1);
                return DOWNLOAD_REFUSED;
            }
            PELOR_SetImage(slot, g_szImagePath, g_szCodeAddress);
        }
        if (!Readable(g_szImagePath)) {
            PELOR_ClearImages();
            text = "ERR: No File";
            return DOWNLOAD_NO_FILE;
        }
    }

    if (controls.resourceChecked) {
        ++images;
        if (!Fits(controls.resourceAddressText, g_szEtc2Address)) {
            PELOR_ClearImages();
            text = TooLong("Resource address", controls.resourceAddressText,
                           sizeof g_szEtc2Address - 1);
            return DOWNLOAD_REFUSED;
        }
        // Empty means address 0; anything else must be what the address edit can hold, never
        // a text of which only a leading part would be read (a job file edited by hand).
        if (!controls.resourceAddressText.empty() &&
            !PELOR_IsAddressText(controls.resourceAddressText)) {
            PELOR_ClearImages();
            text = "Invalid Resource Address ! \"" + controls.resourceAddressText +
                   "\" is not 1 to 8 hexadecimal digits";
            return DOWNLOAD_REFUSED;
        }
        PELOR_SetImage(13, g_szEtc2File, g_szEtc2Address);
        if (!Readable(g_szEtc2File)) {
            PELOR_ClearImages();
            text = "ERR: No File";
            return DOWNLOAD_NO_FILE;
        }
    }

    if (images == 0) {
        text = "Select Image !";
        return DOWNLOAD_REFUSED;
    }
    return DOWNLOAD_READY;
}
