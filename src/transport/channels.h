#pragma once
// Channel indices and the run state shared by the transport, link, job and window layers.
#include <array>
#include <atomic>

inline constexpr int kChannels = 8;

inline bool IsChannel(int channel) {
    return channel >= 0 && channel < kChannels;
}

// 1 while the channel takes part in a run; 0 makes its waits give up.
// Written by the front end's thread (stop, device removal), read by the channel's worker.
extern std::array<std::atomic<int>, kChannels> g_bChannelActive;
