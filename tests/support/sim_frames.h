#pragma once
// Request frames as the station puts them on the wire, and the simulated handset's replies
// taken apart, for tests that talk to the handset directly.
#include <cstdint>
#include <span>
#include <vector>

using SimBytes = std::vector<std::uint8_t>;

// Request bodies (code and arguments, little-endian).
SimBytes SimBodyCode(std::uint8_t code);  // UNLOCK, CLOSE, GO, END_IMAGE, FS_FORMAT, FS_INIT
SimBytes SimBodyVersion(std::uint32_t version);
SimBytes SimBodyArea(std::uint8_t code);  // code 00 00 00 00 01 00
SimBytes SimBodyErase(std::uint32_t address, std::uint32_t length);
SimBytes SimBodyWrite(std::uint32_t address, std::span<const std::uint8_t> data);
SimBytes SimBodyFsWrite(std::uint32_t address, std::span<const std::uint8_t> data);

// The wire form of a request: flag, stuffed (seq, body, CRC of body), flag.
SimBytes SimRequestWire(std::uint8_t seq, std::span<const std::uint8_t> body);
// The same with the CRC's low byte spoilt.
SimBytes SimBadCrcWire(std::uint8_t seq, std::span<const std::uint8_t> body);

// The wire form of the handset's replies.
SimBytes SimAckWire(std::uint8_t seq);
SimBytes SimNakWire(std::uint8_t seq, std::uint8_t reason);

// The frame contents found in a byte stream (noise between frames dropped).
std::vector<SimBytes> SimReplyFrames(std::span<const std::uint8_t> wire);

// Deterministic test data.
SimBytes SimPattern(std::size_t size, std::uint32_t seed);
