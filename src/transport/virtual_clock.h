#pragma once
// Virtual time for a station: nothing sleeps. A pass of a wait moves the clock to the next thing
// that happens in the world around the station (a reply arriving on a simulated line), or by
// the whole pass when nothing will; a pause moves it by its length. Time only moves forward, and
// every pass moves it by at least a microsecond, so a wait always ends.
//
// Used by one thread at a time: the one that runs the station's channel and drives its world.
#include <atomic>
#include <cstdint>
#include <limits>

#include "transport/station_clock.h"

class VirtualClock final : public StationClock {
public:
    // What happens in virtual time besides the station's own waiting.
    class World {
    public:
        virtual ~World() = default;
        // When the next thing happens (bytes waiting to be read count as now), or kNever.
        virtual std::int64_t NextEventMicros(std::int64_t now) = 0;
        // Makes everything due by now happen.
        virtual void AdvanceTo(std::int64_t now) = 0;
    };
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    explicit VirtualClock(World* world = nullptr) : world_(world) {}

    void SetWorld(World* world) { world_ = world; }
    std::int64_t NowMicros() const { return now_.load(std::memory_order_relaxed); }
    // Moves time to at (never back), letting the world act on the way.
    void AdvanceTo(std::int64_t at);
    // Passes waited so far.
    long long Passes() const { return passes_.load(std::memory_order_relaxed); }

    std::int64_t WaitPass(int channel, std::int64_t maxMicros) override;
    void Pause(int channel, int milliseconds) override;
    std::uint32_t TickMs() override;

private:
    World* world_;
    std::atomic<std::int64_t> now_{0};
    std::atomic<long long> passes_{0};
};
