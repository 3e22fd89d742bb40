#include "transport/virtual_clock.h"

#include <algorithm>

void VirtualClock::AdvanceTo(std::int64_t at) {
    const std::int64_t now = NowMicros();
    if (at < now) at = now;
    now_.store(at, std::memory_order_relaxed);
    if (world_ != nullptr) world_->AdvanceTo(at);
}

std::int64_t VirtualClock::WaitPass(int, std::int64_t maxMicros) {
    passes_.fetch_add(1, std::memory_order_relaxed);
    const std::int64_t now = NowMicros();
    std::int64_t until = now + std::max<std::int64_t>(maxMicros, 1);
    if (world_ != nullptr) until = std::min(until, world_->NextEventMicros(now));
    until = std::max(until, now + 1);
    AdvanceTo(until);
    return until - now;
}

void VirtualClock::Pause(int, int milliseconds) {
    if (milliseconds > 0) AdvanceTo(NowMicros() + std::int64_t{milliseconds} * 1000);
}

std::uint32_t VirtualClock::TickMs() {
    return static_cast<std::uint32_t>(NowMicros() / 1000);
}
