#pragma once
// The simulated handset on an in-memory line, in virtual time. The station's end is a port like
// any other: what the station writes reaches the handset's agent (at the line's pace, cut into
// reads as the schedule says); each reply is due once the agent has worked through the requests
// before it and the reply's latency has passed, and only then can the station read it (again cut
// as the schedule says). The line is the virtual clock's world: a pass of a wait ends when the
// next reply is due. An unplug kills the line when it is due: what arrived before it and the
// station has not read yet is lost with it, as on a real port, and the port fails.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "schedule.h"
#include "sim/sim_agent.h"
#include "transport/port_device.h"
#include "transport/virtual_clock.h"

namespace linksim {

class SimLine final : public VirtualClock::World {
public:
    SimLine(const Schedule& schedule, VirtualClock& clock);
    ~SimLine() override;
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // The station's end: install it as the channel's open port.
    SerialHandle StationEnd() { return end_; }
    const SimAgent& Agent() const { return agent_; }
    // When the handset last sent or the station last wrote (virtual microseconds), and when the
    // line died (-1 while it lives).
    std::int64_t LastActivityUs() const { return lastActivity_; }
    std::int64_t DiedAtUs() const { return diedAt_; }
    // How many requests the handset had logged when the station's write failed, or -1: what
    // follows on the line is no longer what the station sent.
    int LogSizeAtWriteFault() const { return logAtWriteFault_; }

    // Something that happens at a time besides the handset (the operator stops the channel).
    void At(std::int64_t at, std::function<void()> action) {
        actionAt_ = at;
        action_ = std::move(action);
    }

    std::int64_t NextEventMicros(std::int64_t now) override;
    void AdvanceTo(std::int64_t now) override;

    // The station's side of the port.
    int StationRead(std::span<std::uint8_t> into);
    int StationWrite(std::span<const std::uint8_t> bytes);
    void StationClose() { closed_ = true; }

private:
    struct Due {
        std::int64_t at = 0;
        std::vector<std::uint8_t> bytes;
        bool unplug = false;
    };
    std::size_t Cut(ReadCut cut, Random& random, std::size_t waiting) const;
    std::int64_t LineTimeUs(std::size_t bytes) const;

    const Schedule& schedule_;
    VirtualClock& clock_;
    SimAgent agent_;
    SerialHandle end_;
    Random latency_;
    Random stationCuts_;
    Random handsetCuts_;
    std::deque<Due> due_;                 // in the order the handset sends them
    std::vector<std::uint8_t> received_;  // arrived at the station, not yet read
    std::size_t readFrom_ = 0;
    std::vector<SimOutput> outputs_;
    std::int64_t towardHandsetFree_ = 0;  // when the line toward the handset is idle again
    std::int64_t handsetFree_ = 0;        // when the handset has sent its last reply
    std::int64_t lastActivity_ = 0;
    std::int64_t diedAt_ = -1;
    bool dead_ = false;
    bool closed_ = false;
    int writes_ = 0;
    int logAtWriteFault_ = -1;
    std::int64_t actionAt_ = -1;
    std::function<void()> action_;
};

}  // namespace linksim
