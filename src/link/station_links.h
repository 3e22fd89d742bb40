#pragma once
// The link's part of a station: each channel's link record and transmit buffers, its staging
// area and frame assembler, its image table and block buffer, and the outcome of its last job;
// and what the link takes from the station's environment (the reporter, the format option, the
// tick of the completion texts). The link's functions work on the calling thread's station, as
// the transport's do (transport/station_ports.h).
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "link/commands.h"
#include "link/flash_downloader.h"
#include "link/frame_codec.h"
#include "link/image_table.h"
#include "link/link_observer.h"
#include "link/outcome.h"
#include "link/status_reporter.h"
#include "transport/channels.h"

// Milliseconds tick used for the "[%d sec]" of the completion text, overriding the station's
// clock (tests); nullptr: the clock's tick.
using TickFn = std::uint32_t (*)();

struct LinkEnvironment {
    StatusReporter* reporter = nullptr;  // nullptr drops what the link reports
    int format = 1;                      // 1 FS_FORMAT before the resource image, 0 FS_INIT
    TickFn tick = nullptr;
    LinkObserver* observer = nullptr;  // nullptr: nobody watches the frames
};

// Link data beside the link record: the header length and the four transmit buffers, of which
// buffer number (bufferCounter & 3) is the next in turn.
struct LinkData {
    int headerLength = 1;
    std::uint8_t lastOtherReply = 0;
    int bufferCounter = 0;
    int current = 0;
    std::array<TxBuffer, kTxBuffers> buffers;
};

// The transmit staging area: leaves in writes of up to 4096 bytes. A write that fails or takes
// only part of the bytes marks the frame being staged as not sent.
struct Staging {
    int count = 0;
    bool failed = false;  // since the frame began
    int error = 0;        // the system's error code of the failed write; 0 for a short write
    std::array<std::uint8_t, kFrameAreaSize> area{};
};

// One channel's link. Everything but the outcome is touched only by the channel's worker; the
// image table is filled before the worker starts.
struct LinkChannel {
    FlashLink fn;
    LinkData link;
    Staging staging;
    FrameAssembler assembler;
    std::array<IMAGE_ENTRY, kSlots> images{};
    std::array<std::uint8_t, kBlockSize> block{};

    // Written by the worker (or the runner, for a worker it could not start), read by the front
    // end: the lock keeps a reader from seeing a half-written detail.
    mutable std::mutex outcomeLock;
    JobOutcome outcome;
    // This channel's job met an image file it could not open (beside the station's flag, which
    // another socket's job may clear while this one still reads it).
    std::atomic<int> fileMissing{0};
};

class StationLinks {
public:
    explicit StationLinks(LinkEnvironment env = {});
    StationLinks(const StationLinks&) = delete;
    StationLinks& operator=(const StationLinks&) = delete;

    LinkChannel& channel(int index) { return channels_[static_cast<std::size_t>(index)]; }

    std::atomic<StatusReporter*> reporter;
    std::atomic<int> format;
    std::atomic<TickFn> tick;
    std::atomic<LinkObserver*> observer;
    // Set to 1 whenever an image file cannot be opened, on any channel; cleared at the start
    // of each run (a Download, or a production-mode job).
    std::atomic<int> fileMissing{0};

private:
    std::array<LinkChannel, kChannels> channels_;
};

// The calling thread's link part: the one bound to this thread, else the process's default.
StationLinks& LINK_Station();
// Binds links to the calling thread (nullptr unbinds); returns what was bound before.
StationLinks* LINK_Bind(StationLinks* links);
// The process's default (the front end's station); nullptr goes back to the built-in one.
void LINK_SetDefault(StationLinks* links);
// The link parts used when no station was made.
StationLinks& LINK_BuiltIn();

// The channel's link part in the calling thread's station.
inline LinkChannel& LINK_Channel(int channel) {
    return LINK_Station().channel(channel);
}

// The calling thread's station by the long-standing names: FN[ch] the link record,
// g_ImageTable[ch][slot] what each channel writes.
struct FlashLinkView {
    FlashLink& operator[](int channel) const { return LINK_Channel(channel).fn; }
};
inline constexpr FlashLinkView FN{};
struct ImageTableView {
    std::array<IMAGE_ENTRY, kSlots>& operator[](int channel) const {
        return LINK_Channel(channel).images;
    }
};
inline constexpr ImageTableView g_ImageTable{};
