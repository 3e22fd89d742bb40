#include "sim_line.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace linksim {

namespace {

class StationPort final : public PortDevice {
public:
    explicit StationPort(SimLine& line) : line_(&line) {}
    int Read(std::span<std::uint8_t> into) override { return line_->StationRead(into); }
    int Write(std::span<const std::uint8_t> bytes) override { return line_->StationWrite(bytes); }
    int WaitReadable(std::chrono::milliseconds) override { return 1; }
    void Close() override { line_->StationClose(); }

private:
    SimLine* line_;
};

SimOptions AgentOptions(const Schedule& s) {
    SimOptions options;
    options.faults = s.faults;
    options.seed = static_cast<std::uint32_t>(s.seed * 2654435761u) | 1u;
    options.programLatencyPerBlock = std::chrono::microseconds(s.line.programUs);
    options.eraseLatencyPerBlock = std::chrono::microseconds(s.line.eraseUs);
    options.eraseLatencyPerRequest = std::chrono::microseconds(s.line.eraseUs * 4);
    return options;
}

}  // namespace

SimLine::SimLine(const Schedule& schedule, VirtualClock& clock)
    : schedule_(schedule),
      clock_(clock),
      agent_(AgentOptions(schedule)),
      end_(std::make_shared<StationPort>(*this)),
      latency_(Random(schedule.seed).Split(4)),
      stationCuts_(Random(schedule.seed).Split(5)),
      handsetCuts_(Random(schedule.seed).Split(6)) {
    clock_.SetWorld(this);
}

SimLine::~SimLine() {
    clock_.SetWorld(nullptr);
}

std::int64_t SimLine::LineTimeUs(std::size_t bytes) const {
    if (schedule_.line.baud == 0) return 0;
    return static_cast<std::int64_t>(bytes) * 10 * 1000000 / schedule_.line.baud;
}

std::size_t SimLine::Cut(ReadCut cut, Random& random, std::size_t waiting) const {
    if (cut == ReadCut::Mixed) cut = static_cast<ReadCut>(random.Between(0, 2));
    std::size_t most = waiting;
    switch (cut) {
        case ReadCut::OneByte:
            most = 1;
            break;
        case ReadCut::Small:
            most = static_cast<std::size_t>(random.Between(1, 12));
            break;
        case ReadCut::All:
        case ReadCut::Mixed:
            break;
    }
    return std::min(most, waiting);
}

std::int64_t SimLine::NextEventMicros(std::int64_t now) {
    // Bytes waiting, or a dead line not yet seen, end a pass at once.
    if (readFrom_ < received_.size() || (dead_ && !closed_)) return now;
    std::int64_t next = due_.empty() ? VirtualClock::kNever : due_.front().at;
    if (action_) next = std::min(next, actionAt_);
    return next;
}

void SimLine::AdvanceTo(std::int64_t now) {
    while (!due_.empty() && due_.front().at <= now && !dead_) {
        Due& d = due_.front();
        if (d.unplug) {
            // A port that goes away takes the bytes the station has not read yet with it.
            dead_ = true;
            diedAt_ = d.at;
            received_.clear();
            readFrom_ = 0;
        } else {
            if (readFrom_ == received_.size()) {
                received_.clear();
                readFrom_ = 0;
            }
            received_.insert(received_.end(), d.bytes.begin(), d.bytes.end());
        }
        lastActivity_ = std::max(lastActivity_, d.at);
        due_.pop_front();
    }
    if (action_ && actionAt_ <= now) {
        auto action = std::move(action_);
        action_ = nullptr;
        action();
    }
}

int SimLine::StationRead(std::span<std::uint8_t> into) {
    if (closed_) return -1;
    const std::size_t waiting = received_.size() - readFrom_;
    if (waiting == 0) return dead_ ? -1 : 0;
    const std::size_t n =
        std::min(into.size(), Cut(schedule_.line.stationReads, stationCuts_, waiting));
    std::memcpy(into.data(), received_.data() + readFrom_, n);
    readFrom_ += n;
    return static_cast<int>(n);
}

int SimLine::StationWrite(std::span<const std::uint8_t> bytes) {
    if (closed_ || dead_) {
        errno = EIO;
        return -1;
    }
    if (writes_++ == schedule_.line.failWrite) {
        logAtWriteFault_ = static_cast<int>(agent_.Requests().size());
        if (!schedule_.line.cutShort) {
            errno = EIO;
            return -1;
        }
        bytes = bytes.first(bytes.size() / 2);
    }
    const std::int64_t now = clock_.NowMicros();
    lastActivity_ = std::max(lastActivity_, now);
    // The bytes reach the handset once the line has carried them.
    const std::int64_t arrived = std::max(now, towardHandsetFree_) + LineTimeUs(bytes.size());
    towardHandsetFree_ = arrived;
    // The handset's agent takes them in pieces; each whole frame gives one output, worked
    // through in order.
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t n = Cut(schedule_.line.handsetReads, handsetCuts_, bytes.size() - at);
        outputs_.clear();
        agent_.Feed(bytes.subspan(at, n), outputs_);
        at += n;
        for (SimOutput& out : outputs_) {
            const std::int64_t jitter = latency_.Between(0, schedule_.line.latencyMaxUs);
            const std::int64_t ready = std::max(arrived, handsetFree_) + out.delay.count() +
                                       jitter + LineTimeUs(out.bytes.size());
            handsetFree_ = ready;
            if (out.bytes.empty() && !out.unplug) continue;  // no reply
            due_.push_back(Due{ready, std::move(out.bytes), out.unplug});
        }
    }
    return static_cast<int>(bytes.size());
}

}  // namespace linksim
