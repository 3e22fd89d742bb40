#include "link/crc16.h"

#include <array>

namespace {

constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0x8408)
                            : static_cast<std::uint16_t>(crc >> 1);
        }
        table[i] = crc;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeTable();

}  // namespace

std::uint16_t CRC16_Compute(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFF]);
    }
    return static_cast<std::uint16_t>(crc ^ 0xFFFF);
}

void CRC16_Append(std::span<std::uint8_t> buffer, int start, int count) {
    if (start < 0 || count < 0 || static_cast<std::size_t>(start) + count + 2 > buffer.size())
        return;
    const std::uint16_t crc = CRC16_Compute(buffer.subspan(start, count));
    buffer[start + count] = static_cast<std::uint8_t>(crc & 0xFF);
    buffer[start + count + 1] = static_cast<std::uint8_t>(crc >> 8);
}

bool CRC16_Check(std::span<const std::uint8_t> buffer, int start, int count) {
    if (start < 0 || count < 2 || static_cast<std::size_t>(start) + count > buffer.size())
        return false;
    const std::uint16_t crc = CRC16_Compute(buffer.subspan(start, count - 2));
    const std::uint16_t got =
        static_cast<std::uint16_t>(buffer[start + count - 2] | (buffer[start + count - 1] << 8));
    return crc == got;
}
