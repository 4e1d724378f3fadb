#pragma once

// What the link tests share: one exchange through the six link functions, payload helpers.

#include "FrameLink.h"

#include <QByteArray>

#include <cstdint>
#include <cstring>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Sends FrameCommand/TxBuffer to DeviceAddress and waits for the reply into the link variables,
// as every command sequence of the program does.
inline bool Exchange(std::uint8_t command, const Bytes& payload = {}, int timeoutMs = 200) {
    FrameCommand = command;
    FrameLength = static_cast<std::uint8_t>(payload.size());
    if (!payload.empty())
        std::memcpy(TxBuffer, payload.data(), payload.size());
    return TxFrame(DeviceAddress, FrameCommand, FrameLength, TxBuffer) &&
           RxFrame(timeoutMs, &DeviceAddress, &FrameCommand, &FrameLength, RxBuffer);
}

inline Bytes FlashRead(std::uint32_t offset, std::uint8_t count) {
    return {static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
            static_cast<std::uint8_t>(offset >> 16), static_cast<std::uint8_t>(offset >> 24),
            count};
}

inline QByteArray Reply() {
    return QByteArray(reinterpret_cast<const char*>(RxBuffer), FrameLength);
}
