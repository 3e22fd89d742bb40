#include "support/sim_frames.h"

#include "link/commands.h"
#include "link/crc16.h"
#include "link/frame_codec.h"

namespace {

void PutU32(SimBytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutU16(SimBytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

SimBytes Content(std::uint8_t seq, std::span<const std::uint8_t> body) {
    SimBytes content;
    content.push_back(seq);
    content.insert(content.end(), body.begin(), body.end());
    content.resize(content.size() + 2);
    CRC16_Append(content, 1, static_cast<int>(body.size()));
    return content;
}

}  // namespace

SimBytes SimBodyCode(std::uint8_t code) {
    return {code};
}

SimBytes SimBodyVersion(std::uint32_t version) {
    SimBytes b{kCommandCodes[CMD_VERSION]};
    PutU32(b, version);
    return b;
}

SimBytes SimBodyArea(std::uint8_t code) {
    SimBytes b{code};
    PutU32(b, 0);
    PutU16(b, 1);
    return b;
}

SimBytes SimBodyErase(std::uint32_t address, std::uint32_t length) {
    SimBytes b{kCommandCodes[CMD_ERASE]};
    PutU32(b, address);
    PutU32(b, length);
    return b;
}

SimBytes SimBodyWrite(std::uint32_t address, std::span<const std::uint8_t> data) {
    SimBytes b{kCommandCodes[CMD_WRITE]};
    PutU32(b, address);
    PutU16(b, static_cast<std::uint32_t>(data.size()));
    b.push_back(kCommandCodes[CMD_WRITE]);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

SimBytes SimBodyFsWrite(std::uint32_t address, std::span<const std::uint8_t> data) {
    SimBytes b{kCommandCodes[CMD_FS_WRITE]};
    PutU32(b, address);
    PutU16(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

SimBytes SimRequestWire(std::uint8_t seq, std::span<const std::uint8_t> body) {
    SimBytes wire;
    FRAME_EncodeTo(Content(seq, body), wire);
    return wire;
}

SimBytes SimBadCrcWire(std::uint8_t seq, std::span<const std::uint8_t> body) {
    SimBytes content = Content(seq, body);
    content[content.size() - 2] ^= 0x01;
    SimBytes wire;
    FRAME_EncodeTo(content, wire);
    return wire;
}

SimBytes SimAckWire(std::uint8_t seq) {
    const std::uint8_t body[] = {0x02, 0x00, 0x00};
    return SimRequestWire(seq, body);
}

SimBytes SimNakWire(std::uint8_t seq, std::uint8_t reason) {
    const std::uint8_t body[] = {0x03, 0x00, reason};
    return SimRequestWire(seq, body);
}

std::vector<SimBytes> SimReplyFrames(std::span<const std::uint8_t> wire) {
    std::vector<SimBytes> frames;
    FrameAssembler assembler;
    assembler.Feed(wire, [&](std::span<const std::uint8_t> frame) {
        frames.emplace_back(frame.begin(), frame.end());
    });
    return frames;
}

SimBytes SimPattern(std::size_t size, std::uint32_t seed) {
    SimBytes out(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return out;
}
