// The Download handler's address texts and path joining on arbitrary input.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/settings.h"
#include "jobs/address_text.h"
#include "jobs/download_plan.h"
#include "jobs/runner.h"
#include "link/image_table.h"
#include "link/station_links.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::uint32_t address = PELOR_ParseAddress(text.c_str());
    // PELOR_SetImage stores the same value in every channel.
    if (PELOR_SetImage(4, text.c_str(), text.c_str()) != 4) std::abort();
    for (int ch = 0; ch < kChannels; ++ch) {
        const auto& channel = g_ImageTable[ch];
        if (channel[4].dwAddress != address) std::abort();
        if (std::strlen(channel[4].szPath) >= sizeof channel[4].szPath) std::abort();
    }
    // A text the address edit could hold reads back as exactly its digits; a typed address is
    // taken only as such a text.
    if (PELOR_IsAddressText(text)) {
        const std::uint32_t value =
            static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 16));
        if (address != value) std::abort();
    }
    if (const auto digits = PELOR_TypedAddress(text)) {
        if (!PELOR_IsAddressText(*digits)) std::abort();
        if (text.size() != digits->size() && text.size() != digits->size() + 2) std::abort();
    }
    // The code folder and address as an operator might type them.
    const std::size_t cut = size / 2;
    SETTINGS_CopyText(g_szCodeFile, text.substr(0, cut));
    SETTINGS_SplitCodePath();
    DownloadControls controls;
    controls.codeChecked = true;
    controls.codeAddressText = text.substr(cut);
    std::string message;
    PELOR_FillImages(controls, &message);
    for (int slot = 0; slot < kSlots; ++slot) {
        if (std::strlen(g_ImageTable[0][slot].szPath) >= kImagePathSize) std::abort();
    }
    if (std::strlen(g_szImagePath) >= sizeof g_szImagePath) std::abort();
    if (std::strlen(g_szCodeAddress) >= sizeof g_szCodeAddress) std::abort();
    return 0;
}
