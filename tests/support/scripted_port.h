#pragma once
// A port for unit tests of the link: records what the station writes, decodes its frames and
// lets the test answer each one; the station reads the answers. No threads, no sleeping.
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "link/frame_codec.h"
#include "link/station_links.h"
#include "transport/port_device.h"
#include "transport/station_ports.h"

class ScriptedPort : public PortDevice {
public:
    // Called for each complete frame the station sent (its unstuffed content).
    std::function<void(ScriptedPort&, const std::vector<std::uint8_t>&)> onFrame;

    int Read(std::span<std::uint8_t> into) override;
    int Write(std::span<const std::uint8_t> bytes) override;
    int WaitReadable(std::chrono::milliseconds) override { return pending_.empty() ? 0 : 1; }

    void Queue(std::span<const std::uint8_t> bytes) {
        pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    }
    // Queues a reply frame: seq, code, 0, reason, CRC.
    void QueueReply(std::uint8_t seq, std::uint8_t code, std::uint8_t reason = 0);
    // Queues a frame with the given content and a correct CRC over content[1..].
    void QueueFrame(std::vector<std::uint8_t> content);

    std::size_t Pending() const { return pending_.size(); }
    int readCalls = 0;
    bool dead = false;
    int writeErrno = 0;                 // when set, writes fail with this error (reads still work)
    int acceptAtMost = -1;              // when set, a write takes at most this many bytes
    std::vector<std::uint8_t> written;  // every byte the station wrote
    std::vector<std::size_t> writeSizes;            // size of each write call
    std::vector<std::vector<std::uint8_t>> frames;  // each request frame the station sent

private:
    std::deque<std::uint8_t> pending_;
    FrameAssembler assembler_;
};

// A link of the test's own (ports and link parts, bound to the test's thread) with a scripted
// port installed as the channel's open port: active flag set, no "DELAY" pause, passes that
// return at once and are counted.
class ScriptedChannel {
public:
    explicit ScriptedChannel(int channel);
    ~ScriptedChannel();
    ScriptedPort& port() { return *port_; }
    std::shared_ptr<ScriptedPort> shared() { return port_; }
    int channel() const { return channel_; }
    StationLinks& links() { return links_; }
    static long long Passes();  // passes waited since construction
    // Answers every request frame with an ACK under its sequence number.
    void AckEverything();

private:
    StationPorts ports_;
    StationLinks links_;
    StationPorts* previousPorts_;
    StationLinks* previousLinks_;
    int channel_;
    std::shared_ptr<ScriptedPort> port_;
};

// Content bytes (seq, code, args, CRC) as the station builds them, for comparing frames.
std::vector<std::uint8_t> WireOf(std::vector<std::uint8_t> content);
