#pragma once
// The station's frame layer: per channel, a transmit staging area that leaves in writes of up to
// 4096 bytes, and a receive assembler that hands whole frames to the link.
#include <cstdint>
#include <span>

inline constexpr int kStagingFlushSize = 4096;

// Link start: staging count, assembler state and length back to 0; the assembler becomes the
// channel's receive sink.
void FRAME_Reset(int channel);

int FRAME_PutByte(int channel, std::uint8_t byte);
// Writes the staged bytes through SERIAL_PORT_Write; returns its result; the count becomes 0.
// A write that fails or takes fewer bytes marks the frame being sent as not sent.
int FRAME_Flush(int channel);
void FRAME_PutEscaped(int channel, std::uint8_t byte);
// FRAME_PutEscaped for buffer[from] up to but not including buffer[to].
void FRAME_PutBytes(int channel, std::span<const std::uint8_t> buffer, int from, int to);
// Flag, stuffed buffer[start..end-1], flag, flush. Returns 1 when every write took all its bytes,
// 0 when one failed or fell short: the frame did not reach the handset whole.
int FRAME_Send(int channel, std::span<const std::uint8_t> buffer, int start, int end);
// Why the last FRAME_Send returned 0: the system's error code, or 0 for a short write.
int FRAME_SendError(int channel);
// Feeds bytes[start..end-1] through the channel's assembler; each complete frame goes to
// FLASH_DOWNLOADER_Receive before the next byte is looked at. Returns end.
int FRAME_Assemble(int channel, std::span<const std::uint8_t> bytes, int start, int end);

// The assembler's state (0..3) and length, for tests and diagnostics.
int FRAME_AssemblerState(int channel);
int FRAME_AssemblerLength(int channel);
