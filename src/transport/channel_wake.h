#pragma once
// A per-channel wake-up signal that a waiting worker sees at once, beside the bytes of its port.
#include <cstdint>

class ChannelWake {
public:
    ChannelWake();
    ~ChannelWake();
    ChannelWake(const ChannelWake&) = delete;
    ChannelWake& operator=(const ChannelWake&) = delete;

    // Blocks until fd (if >= 0; POSIX only) is readable or hung up, the signal is set, or
    // maxMicros have passed.
    void Wait(int fd, std::int64_t maxMicros);
    // Sets the signal; it stays set (every wait returns at once) until cleared.
    void Signal();
    void Clear();

private:
#ifdef _WIN32
    void* event_ = nullptr;  // a manual-reset event
#else
    int read_ = -1;  // a non-blocking pipe: readable while signalled
    int write_ = -1;
#endif
};

// The same for a channel of the calling thread's station.
void CHANNEL_WAKE_Wait(int channel, int fd, std::int64_t maxMicros);
void CHANNEL_WAKE_Signal(int channel);
void CHANNEL_WAKE_Clear(int channel);
