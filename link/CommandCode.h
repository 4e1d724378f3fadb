#pragma once

// The controller's command codes: what a request asks for, and what its reply carries back. The
// program and the simulator both name them here.

#include <cstdint>

enum class CommandCode : std::uint8_t {
    ReadIdentification = 3, // no payload; the reply: the identification text
    ChangeAddress = 4,      // the address-change code and the new address; an empty reply
    ReadAddress = 5,        // no payload; the reply: byte 0, the network address
    ReadSerial = 7,         // no payload; the reply: the serial number, little-endian
    WriteSerial = 8,        // the serial number, little-endian; an empty reply
    ReadComment = 9,        // no payload; the reply: the installation-place comment
    WriteComment = 10,      // the comment, a zero byte, spaces to 32 bytes; an empty reply
    ReadFlash = 30,         // the offset (4 bytes, little-endian) and a count; the reply: the bytes
};

// The byte that stands for the command on the line.
constexpr std::uint8_t CodeByte(CommandCode command) {
    return static_cast<std::uint8_t>(command);
}

// The two bytes that come before the new address in a ChangeAddress request.
constexpr std::uint8_t AddressChangeCode[2] = {0x6E, 0x2B};
