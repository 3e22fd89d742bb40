#pragma once
// What a station's link tells an observer about each channel's frames: a request frame written
// whole, and the answer credited to a frame. For diagnostics and the link's simulation; the link
// works the same without one. Called on the channel's worker thread.
#include <cstdint>
#include <span>

#include "link/flash_downloader.h"

class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    // A frame went out whole under count; content is its sequence byte, code, arguments and CRC.
    virtual void OnFrameSent(int channel, int count, std::span<const std::uint8_t> content) = 0;
    // The reply credited to the frame sent under count.
    virtual void OnAnswer(int channel, int count, FrameAnswer answer) = 0;
};
