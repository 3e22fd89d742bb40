#pragma once
// Paces bytes as a UART line of a given bit rate carries them: 10 bit times per byte (start,
// eight data, stop), so baud/10 bytes per second. Callers move a burst (two milliseconds'
// worth) at a time; a line left idle banks at most four bursts, enough to absorb a late wake-up
// without losing rate, too little to matter to a transfer's time. Time is passed in, so the
// pacing can be tested without waiting.
#include <chrono>
#include <cstddef>
#include <cstdint>

class UartPacer {
public:
    using Clock = std::chrono::steady_clock;

    // baud 0: no pacing, every request is granted in full.
    explicit UartPacer(std::uint32_t baud = 0);

    bool Enabled() const { return baud_ != 0; }
    // Bytes the line has carried by now and nobody has taken yet (wanted-independent; a large
    // number when pacing is off).
    std::size_t Ready(Clock::time_point now) const;
    // Takes count bytes from the line (count may exceed Ready: the line then owes the time).
    void Consume(std::size_t count, Clock::time_point now);
    // Ready and Consume in one: at most wanted bytes.
    std::size_t Take(std::size_t wanted, Clock::time_point now);
    // How long until Ready reaches count, or Cap() if count is larger (zero if it already has).
    std::chrono::microseconds UntilReady(std::size_t count, Clock::time_point now) const;
    // The line time of count bytes.
    std::chrono::nanoseconds LineTime(std::uint64_t count) const;
    // What a caller should move at a time: two milliseconds' worth, at least one byte.
    std::size_t Burst() const;
    // The most an idle line banks: four bursts.
    std::size_t Cap() const;

private:
    struct Count {
        Clock::time_point epoch;
        std::uint64_t taken;
    };
    // The count in force at now: a line idle for longer than Cap() restarts it with Cap()
    // banked.
    Count Current(Clock::time_point now) const;

    std::uint32_t baud_ = 0;
    // The line has carried taken_ bytes taken so far by epoch_ + LineTime(taken_).
    Clock::time_point epoch_{};
    std::uint64_t taken_ = 0;
    bool started_ = false;
};
