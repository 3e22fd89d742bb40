#include "sim/uart_pacer.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::uint64_t kBitsPerByte = 10;
constexpr std::uint64_t kNanosPerByteAtOneBaud = kBitsPerByte * 1000000000ULL;

}  // namespace

UartPacer::UartPacer(std::uint32_t baud) : baud_(baud) {}

std::chrono::nanoseconds UartPacer::LineTime(std::uint64_t count) const {
    if (baud_ == 0) return std::chrono::nanoseconds(0);
    // count * 10 bits / baud seconds, rounded up to the nanosecond so that by then the line
    // has surely carried count bytes.
    const std::uint64_t bits = count * kBitsPerByte;
    const std::uint64_t whole = bits / baud_;
    const std::uint64_t rest = bits % baud_;
    return std::chrono::nanoseconds(whole * 1000000000ULL +
                                    (rest * 1000000000ULL + baud_ - 1) / baud_);
}

std::size_t UartPacer::Burst() const {
    if (baud_ == 0) return std::numeric_limits<std::size_t>::max();
    return std::max<std::size_t>(1, baud_ / kBitsPerByte / 500);
}

std::size_t UartPacer::Cap() const {
    if (baud_ == 0) return std::numeric_limits<std::size_t>::max();
    return 4 * Burst();
}

UartPacer::Count UartPacer::Current(Clock::time_point now) const {
    const auto capTime = LineTime(Cap());
    if (!started_ || epoch_ + LineTime(taken_) + capTime < now) return {now - capTime, 0};
    return {epoch_, taken_};
}

std::size_t UartPacer::Ready(Clock::time_point now) const {
    if (baud_ == 0) return std::numeric_limits<std::size_t>::max();
    const Count c = Current(now);
    if (now <= c.epoch) return 0;
    // elapsed * baud / 10^10, split so that hours of line time cannot overflow.
    const auto elapsed = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - c.epoch).count());
    const std::uint64_t carried = elapsed / kNanosPerByteAtOneBaud * baud_ +
                                  elapsed % kNanosPerByteAtOneBaud * baud_ / kNanosPerByteAtOneBaud;
    return carried > c.taken ? static_cast<std::size_t>(carried - c.taken) : 0;
}

void UartPacer::Consume(std::size_t count, Clock::time_point now) {
    if (baud_ == 0) return;
    const Count c = Current(now);
    epoch_ = c.epoch;
    taken_ = c.taken + count;
    started_ = true;
}

std::size_t UartPacer::Take(std::size_t wanted, Clock::time_point now) {
    const std::size_t granted = std::min(Ready(now), wanted);
    Consume(granted, now);
    return granted;
}

std::chrono::microseconds UartPacer::UntilReady(std::size_t count, Clock::time_point now) const {
    count = std::min(count, Cap());
    if (baud_ == 0 || Ready(now) >= count) return std::chrono::microseconds(0);
    const Count c = Current(now);
    const auto at = c.epoch + LineTime(c.taken + count);
    if (at <= now) return std::chrono::microseconds(1);  // rounding: almost there
    return std::chrono::ceil<std::chrono::microseconds>(at - now);
}
