#pragma once

// What the link tests share: one exchange through a link's frame functions, payload helpers.

#include "FrameLink.h"

#include <QByteArray>

#include <cstdint>
#include <cstring>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Sends the link's FrameCommand/TxBuffer to its DeviceAddress and waits for the reply into the
// link's variables, as every command sequence of the program does.
inline bool Exchange(FrameLink& link, std::uint8_t command, const Bytes& payload = {},
                     int timeoutMs = 200) {
    link.FrameCommand = command;
    link.FrameLength = static_cast<std::uint8_t>(payload.size());
    if (!payload.empty())
        std::memcpy(link.TxBuffer, payload.data(), payload.size());
    return link.TxFrame(link.DeviceAddress, link.FrameCommand, link.FrameLength, link.TxBuffer) &&
           link.RxFrame(timeoutMs, &link.DeviceAddress, &link.FrameCommand, &link.FrameLength,
                        link.RxBuffer);
}

inline Bytes FlashRead(std::uint32_t offset, std::uint8_t count) {
    return {static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
            static_cast<std::uint8_t>(offset >> 16), static_cast<std::uint8_t>(offset >> 24),
            count};
}

inline QByteArray Reply(const FrameLink& link) {
    return QByteArray(reinterpret_cast<const char*>(link.RxBuffer), link.FrameLength);
}
