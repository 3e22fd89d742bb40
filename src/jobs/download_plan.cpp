#include "jobs/download_plan.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "config/paths.h"
#include "config/settings.h"
#include "jobs/address_text.h"
#include "jobs/runner.h"
#include "link/image_table.h"

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

}  // namespace

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
