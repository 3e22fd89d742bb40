#include "sim/sim_expected.h"

#include <fstream>

#include "link/commands.h"
#include "link/image_table.h"
#include "link/image_transfer.h"
#include "sim/sim_flash.h"

namespace {

// The area each file slot selects (the code of its INIT_* request), or the file system.
int AreaOfSlot(int slot) {
    switch (slot) {
        case 2:
        case 5:
            return FLASH_DOWNLOADER_GetCode(CMD_INIT_PARTITION);
        case 6:
            return FLASH_DOWNLOADER_GetCode(CMD_INIT_PBL);
        case 7:
            return FLASH_DOWNLOADER_GetCode(CMD_INIT_QCSBL_HEADER);
        case 8:
            return FLASH_DOWNLOADER_GetCode(CMD_INIT_QCSBL);
        case 9:
            return FLASH_DOWNLOADER_GetCode(CMD_INIT_OEMSBL_HEADER);
        case 10:
            return FLASH_DOWNLOADER_GetCode(CMD_INIT_OEMSBL);
        case 11:
            return FLASH_DOWNLOADER_GetCode(CMD_INIT_AMSS_HEADER);
        case 12:
            return FLASH_DOWNLOADER_GetCode(CMD_INIT_AMSS);
        case 13:
            return kSimAreaFs;
        default:
            return -1;
    }
}

}  // namespace

int SIM_ExpectedImages(int channel, std::vector<SimExpectedImage>& images, std::string* error) {
    images.clear();
    if (!IsChannel(channel)) return 0;
    for (int slot = 0; slot < kSlots; ++slot) {
        const IMAGE_ENTRY& e = g_ImageTable[channel][slot];
        const int area = AreaOfSlot(slot);
        if (e.szPath[0] == '\0' || area < 0) continue;
        std::ifstream in(e.szPath, std::ios::binary | std::ios::ate);
        const std::streamoff size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
        std::vector<std::uint8_t> bytes(size > 0 ? static_cast<std::size_t>(size) : 0);
        if (size < 0 || !in.seekg(0) ||
            !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
            if (error) *error = std::string("cannot read ") + e.szPath;
            return 0;
        }
        SimExpectedImage image;
        image.area = static_cast<std::uint8_t>(area);
        image.address = e.dwAddress;
        if (slot == kAmssSlot && e.dwAddress != 0) {
            if (bytes.size() <= e.dwAddress) continue;  // nothing of it is written
            bytes.erase(bytes.begin(), bytes.begin() + e.dwAddress);
        }
        image.bytes = std::move(bytes);
        images.push_back(std::move(image));
    }
    return 1;
}
