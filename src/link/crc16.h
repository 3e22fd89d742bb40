#pragma once
// CRC-16/X-25 (the HDLC frame check sequence): reflected polynomial 0x8408, start 0xFFFF,
// result complemented. Check value over "123456789" is 0x906E.
#include <cstdint>
#include <span>

std::uint16_t CRC16_Compute(std::span<const std::uint8_t> bytes);
// CRC over buffer[start .. start+count-1], stored low byte first at buffer[start+count].
void CRC16_Append(std::span<std::uint8_t> buffer, int start, int count);
// True when the last two of the count bytes from buffer[start] are, low byte first, the CRC of
// the count - 2 bytes before them. With count 2 the CRC is over no bytes and is 0x0000.
bool CRC16_Check(std::span<const std::uint8_t> buffer, int start, int count);
