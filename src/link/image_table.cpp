#include "link/image_table.h"

std::array<std::array<IMAGE_ENTRY, kSlots>, kChannels> g_ImageTable{};
