#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kv {

// CRC-16/MODBUS: width 16, polynomial 0x8005 (0xA001 reflected), initial value 0xFFFF,
// input and output reflected, no final XOR. Check value: "123456789" -> 0x4B37.
// Sent on the wire low byte first.
std::uint16_t Crc16Modbus(std::span<const std::uint8_t> bytes);

} // namespace kv
