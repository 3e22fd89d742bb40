#pragma once
// The image table: what each channel writes, slot by slot. Each channel of a station holds its
// own (link/station_links.h); filled before the workers start, afterwards each worker touches
// only its own channel's entries.
#include <array>
#include <cstdint>

#include "transport/channels.h"

inline constexpr int kSlots = 14;
inline constexpr int kImagePathSize = 1024;
inline constexpr const char* kDummyPath = "Dummy";

struct IMAGE_ENTRY {
    std::int32_t nSlot = -1;                // slot number; -1 after clearing
    std::int32_t nChannel = 0;              // written by the image transfer when it opens the file
    char szPath[kImagePathSize] = {};       // empty = slot not used; "Dummy" = request only
    std::uint32_t dwAddress = 0xFFFFFFFFu;  // flash address; all bits set after clearing
    std::int32_t nSize = 0;                 // bytes to send
    std::int32_t nSent = 0;                 // bytes sent so far
};
