#include "transport/station_clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "transport/station_ports.h"

namespace {

class RealClock final : public StationClock {
public:
    std::int64_t WaitPass(int channel, std::int64_t maxMicros) override {
        if (!IsChannel(channel)) return maxMicros;
        PortChannel& port = SERIAL_PORT_Station().channel(channel);
        const auto start = std::chrono::steady_clock::now();
        SerialHandle handle = port.Handle();
        const int fd = handle ? handle->PollFd() : -1;
        if (handle && fd < 0) {
            // A port without a pollable descriptor: plain passes of 1 ms.
            port.wake.Wait(-1, std::min<std::int64_t>(maxMicros, 1000));
        } else {
            port.wake.Wait(fd, maxMicros);
        }
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    }

    void Pause(int, int milliseconds) override {
        if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

    std::uint32_t TickMs() override {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
};

}  // namespace

StationClock& STATION_RealClock() {
    static RealClock clock;
    return clock;
}
