// The per-channel wake signal on Windows: one manual-reset event per channel. A COM port's
// readiness cannot be waited on together with it, so the caller waits in short passes.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <array>

#include "transport/channel_wake.h"
#include "transport/channels.h"

namespace {

// One event per channel, made once and kept for the life of the process.
struct WakeEvents {
    std::array<HANDLE, kChannels> events{};
    WakeEvents() {
        // Manual-reset, not signalled, unnamed: a signal stays until it is cleared.
        for (HANDLE& e : events) e = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~WakeEvents() {
        for (HANDLE e : events)
            if (e != nullptr) CloseHandle(e);
    }
    WakeEvents(const WakeEvents&) = delete;
    WakeEvents& operator=(const WakeEvents&) = delete;
};

HANDLE EventOf(int channel) {
    static WakeEvents wake;
    return wake.events[static_cast<std::size_t>(channel)];
}

}  // namespace

// fd has no meaning here (ports have no descriptor on Windows): the wait ends on the signal or
// when the time is up.
void CHANNEL_WAKE_Wait(int channel, int /*fd*/, std::int64_t maxMicros) {
    if (!IsChannel(channel) || maxMicros <= 0) return;
    const std::int64_t ms = (maxMicros + 999) / 1000;
    const DWORD timeoutMs =
        ms >= static_cast<std::int64_t>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
    const HANDLE e = EventOf(channel);
    if (e == nullptr) {
        Sleep(timeoutMs);
        return;
    }
    WaitForSingleObject(e, timeoutMs);
}

void CHANNEL_WAKE_Signal(int channel) {
    if (!IsChannel(channel)) return;
    if (const HANDLE e = EventOf(channel)) SetEvent(e);
}

void CHANNEL_WAKE_Clear(int channel) {
    if (!IsChannel(channel)) return;
    if (const HANDLE e = EventOf(channel)) ResetEvent(e);
}
