#pragma once
// Writes one image of a channel's image table into the handset's flash: erase its range, then
// stream the file in 16384-byte WRITE (or FS_WRITE) blocks, with progress to the window.
#include <array>
#include <atomic>
#include <cstdint>

#include "link/commands.h"
#include "transport/channels.h"

// One block buffer per channel; every read from an image file on that channel goes into it.
extern std::array<std::array<std::uint8_t, kBlockSize>, kChannels> g_BlockBuffer;
// Set to 1 whenever an image file cannot be opened, on any channel; never cleared.
extern std::atomic<int> g_bFileMissing;

inline constexpr int kAmssSlot = 12;
inline constexpr int kResourceSlot = 13;
inline constexpr int kProgressEveryBlocks = 16;

// 1 when the whole file was handed to the link, 0 otherwise (with the error text shown).
int FLASH_DOWNLOADER_DownloadImage(int channel, int slot);

// Milliseconds tick used for the "[%d sec]" of the completion text; tests may replace it.
using TickFn = std::uint32_t (*)();
void FLASH_DOWNLOADER_SetTickSource(TickFn fn);  // nullptr restores the steady clock
