#pragma once
// A per-channel wake-up signal that a waiting worker sees at once, beside the bytes of its port.
#include <cstdint>

// Blocks until fd (if >= 0) is readable or hung up, the channel's wake signal is set, or
// maxMicros have passed.
void CHANNEL_WAKE_Wait(int channel, int fd, std::int64_t maxMicros);
// Sets the signal; it stays set (every wait returns at once) until cleared.
void CHANNEL_WAKE_Signal(int channel);
void CHANNEL_WAKE_Clear(int channel);
