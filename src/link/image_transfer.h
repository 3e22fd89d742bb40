#pragma once
// Writes one image of a channel's image table into the handset's flash: erase its range, then
// stream the file in 16384-byte WRITE (or FS_WRITE) blocks, with progress to the window.
#include <array>
#include <atomic>
#include <cstdint>

#include "link/commands.h"
#include "link/station_links.h"
#include "transport/channels.h"

inline constexpr int kAmssSlot = 12;
inline constexpr int kResourceSlot = 13;
inline constexpr int kProgressEveryBlocks = 16;

// 1 when the whole file was handed to the link, 0 otherwise (with the error text shown).
int FLASH_DOWNLOADER_DownloadImage(int channel, int slot);

// The missing-file flag belongs to one run: whether this channel's run, or any channel's since
// the flag was last cleared, met an image file it could not open. Clearing forgets both the
// station's flag and the channel's.
int FLASH_DOWNLOADER_FileMissing(int channel);
void FLASH_DOWNLOADER_ClearFileMissing(int channel);

// The tick of the completion texts, for the calling thread's station.
void FLASH_DOWNLOADER_SetTickSource(TickFn fn);  // nullptr: the station's clock
