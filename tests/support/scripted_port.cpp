#include "support/scripted_port.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>

#include "link/crc16.h"
#include "link/flash_downloader.h"
#include "link/frame.h"
#include "transport/serial_port.h"

namespace {
std::atomic<long long> g_passes{0};

std::int64_t CountingPass(int, std::int64_t) {
    ++g_passes;
    return 1000;
}
void NoDelay(int, int) {}
}  // namespace

int ScriptedPort::Read(std::span<std::uint8_t> into) {
    ++readCalls;
    if (dead) return -1;
    const std::size_t n = std::min(into.size(), pending_.size());
    std::copy_n(pending_.begin(), n, into.begin());
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<int>(n);
}

int ScriptedPort::Write(std::span<const std::uint8_t> bytes) {
    if (dead) return -1;
    if (writeErrno != 0) {
        errno = writeErrno;
        return -1;
    }
    if (acceptAtMost >= 0 && bytes.size() > static_cast<std::size_t>(acceptAtMost)) {
        bytes = bytes.first(static_cast<std::size_t>(acceptAtMost));
    }
    written.insert(written.end(), bytes.begin(), bytes.end());
    writeSizes.push_back(bytes.size());
    assembler_.Feed(bytes, [this](std::span<const std::uint8_t> frame) {
        std::vector<std::uint8_t> content(frame.begin(), frame.end());
        frames.push_back(content);
        if (onFrame) onFrame(*this, content);
    });
    return static_cast<int>(bytes.size());
}

void ScriptedPort::QueueReply(std::uint8_t seq, std::uint8_t code, std::uint8_t reason) {
    QueueFrame({seq, code, 0x00, reason});
}

void ScriptedPort::QueueFrame(std::vector<std::uint8_t> content) {
    const std::vector<std::uint8_t> wire = WireOf(std::move(content));
    Queue(wire);
}

std::vector<std::uint8_t> WireOf(std::vector<std::uint8_t> content) {
    const std::uint16_t crc = CRC16_Compute(std::span<const std::uint8_t>(content).subspan(1));
    content.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    content.push_back(static_cast<std::uint8_t>(crc >> 8));
    std::vector<std::uint8_t> wire;
    FRAME_EncodeTo(content, wire);
    return wire;
}

ScriptedChannel::ScriptedChannel(int channel)
    : ports_(PortEnvironment{&CountingPass, &NoDelay, 0}),
      previousPorts_(SERIAL_PORT_Bind(&ports_)),
      previousLinks_(LINK_Bind(&links_)),
      channel_(channel),
      port_(std::make_shared<ScriptedPort>()) {
    g_passes = 0;
    g_bChannelActive[channel] = 1;
    SERIAL_PORT_Start(channel, 1, 1382400);
    {
        std::lock_guard lock(SERIAL_PORT_Mutex());
        g_hSerialDevice.Set(channel, port_);
    }
    FRAME_Reset(channel);
    FLASH_DOWNLOADER_LinkStart(channel);
}

ScriptedChannel::~ScriptedChannel() {
    LINK_Bind(previousLinks_);
    SERIAL_PORT_Bind(previousPorts_);
}

long long ScriptedChannel::Passes() {
    return g_passes.load();
}

void ScriptedChannel::AckEverything() {
    port_->onFrame = [](ScriptedPort& p, const std::vector<std::uint8_t>& f) {
        p.QueueReply(f[0], 0x02);
    };
}
