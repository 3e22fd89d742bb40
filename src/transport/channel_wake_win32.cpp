// The wake signal on Windows: a manual-reset event. A COM port's readiness cannot be waited on
// together with it, so the caller waits in short passes.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "transport/channel_wake.h"

ChannelWake::ChannelWake() {
    // Manual-reset, not signalled, unnamed: a signal stays until it is cleared.
    event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

ChannelWake::~ChannelWake() {
    if (event_ != nullptr) CloseHandle(static_cast<HANDLE>(event_));
}

// fd has no meaning here (ports have no descriptor on Windows): the wait ends on the signal or
// when the time is up.
void ChannelWake::Wait(int /*fd*/, std::int64_t maxMicros) {
    if (maxMicros <= 0) return;
    const std::int64_t ms = (maxMicros + 999) / 1000;
    const DWORD timeoutMs =
        ms >= static_cast<std::int64_t>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
    if (event_ == nullptr) {
        Sleep(timeoutMs);
        return;
    }
    WaitForSingleObject(static_cast<HANDLE>(event_), timeoutMs);
}

void ChannelWake::Signal() {
    if (event_ != nullptr) SetEvent(static_cast<HANDLE>(event_));
}

void ChannelWake::Clear() {
    if (event_ != nullptr) ResetEvent(static_cast<HANDLE>(event_));
}
