#pragma once
// How time passes for a station: one pass of the link's waits, the "DELAY" pause before a write,
// and the millisecond tick of the completion texts. The real clock waits on the port and sleeps;
// a virtual clock (transport/virtual_clock.h) moves time of its own and never sleeps, so tests,
// the link's simulation and the fuzz targets run long time-outs in no real time.
#include <cstdint>

class StationClock {
public:
    virtual ~StationClock() = default;
    // One pass of a wait on channel: returns once bytes may have arrived on the channel's port,
    // the channel was woken (stopped), or maxMicros have passed; returns the microseconds the
    // pass counts for.
    virtual std::int64_t WaitPass(int channel, std::int64_t maxMicros) = 0;
    // The pause before a write to the channel's port.
    virtual void Pause(int channel, int milliseconds) = 0;
    // A millisecond tick; only differences between two ticks mean anything.
    virtual std::uint32_t TickMs() = 0;
};

// The real clock: a pass waits on the port of the calling thread's station (or its wake-up
// signal), a pause sleeps, the tick is the steady clock's.
StationClock& STATION_RealClock();
