#include "Crc16.h"

#include <array>

namespace kv {
namespace {

// The CRC of every byte value alone, so that a byte costs one look-up instead of eight shifts (a
// collection of a fleet checks millions of frames, and the simulator as many).
constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> table{};
    for (int value = 0; value < 256; ++value) {
        auto crc = static_cast<std::uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
        table[static_cast<std::size_t>(value)] = crc;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kTable = MakeTable();

} // namespace

std::uint16_t Crc16Modbus(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kTable[(crc ^ b) & 0xFF]);
    return crc;
}

} // namespace kv
