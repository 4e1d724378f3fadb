#pragma once

// Little-endian fields of the controller's 32-byte records, read from a record's first byte.

#include <cstdint>

inline std::int16_t Int16At(const std::uint8_t* p, int offset) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[offset] | (p[offset + 1] << 8)));
}

inline std::uint32_t UInt32At(const std::uint8_t* p, int offset) {
    return static_cast<std::uint32_t>(p[offset]) |
           (static_cast<std::uint32_t>(p[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(p[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(p[offset + 3]) << 24);
}
