#include "jobs/status_board.h"

#include <cstdio>

#include "jobs/status.h"
#include "link/image_table.h"

namespace {

constexpr std::array<const char*, kSlots> kSlotNames = {
    "EraseAllNAND", "Security",      "Partition", "EraseExceptBackUpArea",
    "Security",     "Partition",     "PBL",       "QCSBL_CFGDATA",
    "QCSBL",        "OEMSBL_Header", "OEMSBL",    "AMSS_Header",
    "AMSS",         "Resource"};

}  // namespace

const char* STATUS_SlotName(int slot) {
    if (slot < 0 || slot >= kSlots) return "";
    return kSlotNames[slot];
}

int STATUS_ProgressPercent(std::int64_t sent, std::int64_t size) {
    const auto s = static_cast<std::uint32_t>(sent);
    const auto n = static_cast<std::uint32_t>(size);
    if (n == 0) return 0;
    if (n < 100) return static_cast<int>(static_cast<std::uint64_t>(s) * 100u / n);
    return static_cast<int>(s / (n / 100u));
}

std::string STATUS_ProgressText(const IMAGE_ENTRY& e) {
    if (e.nSize == e.nSent) return "Done";
    char text[128];
    std::snprintf(text, sizeof text, "%s: %d%% [%d/%d]", STATUS_SlotName(e.nSlot),
                  STATUS_ProgressPercent(e.nSent, e.nSize), e.nSent, e.nSize);
    return text;
}

int StatusBoard::Apply(std::uintptr_t kind, const void* lParam, int* channel) {
    if (lParam == nullptr) return NONE;
    switch (kind) {
        case STATUS_PROGRESS: {
            const auto& e = *static_cast<const IMAGE_ENTRY*>(lParam);
            if (!IsChannel(e.nChannel)) return NONE;
            BarState& bar = bars[e.nChannel];
            bar.text = STATUS_ProgressText(e);
            if (e.nSize != e.nSent) {
                bar.lower = 0;
                bar.upper = e.nSize;
                bar.pos = e.nSent;
            } else {
                bar.lower = 0;
                bar.upper = 100;
                bar.pos = 100;
            }
            if (channel) *channel = e.nChannel;
            return BAR;
        }
        case STATUS_STATION_TEXT:
            station = static_cast<const char*>(lParam);
            return STATION;
        case STATUS_CHANNEL_TEXT: {
            const auto& e = *static_cast<const IMAGE_ENTRY*>(lParam);
            if (e.szPath[0] == '\0' || !IsChannel(e.nChannel)) return NONE;
            BarState& bar = bars[e.nChannel];
            bar.text = e.szPath;
            bar.lower = 0;
            bar.upper = 100;
            bar.pos = 0;
            if (channel) *channel = e.nChannel;
            return BAR;
        }
        default:
            return NONE;
    }
}
