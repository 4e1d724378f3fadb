#pragma once

// The controller's side of the protocol: one request frame in, at most one answer frame out.
// No port, no clock: the loop around it decides when and whether the answer goes out.

#include "CommandCode.h"
#include "FrameCodec.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <optional>

namespace sim {

constexpr int kMaxFlashRead = 32;
constexpr int kMaxText = 40; // text answers carry the text and a zero byte in 41 bytes

struct Identity {
    std::uint8_t address = 1;
    std::uint16_t serial = 12345;
    QByteArray comment;        // Windows-1251, no zero byte
    QByteArray identification; // Windows-1251, no zero byte
};

class SimController {
public:
    SimController(Identity identity, QByteArray archive);
    // The same with an archive made only when the first flash read needs it: a fleet of idle
    // controllers holds no archives.
    SimController(Identity identity, std::function<QByteArray()> makeArchive);

    // The answer to a request with a good CRC, or nothing when the controller stays silent: a
    // request for another address, an unknown command, a payload of the wrong length, a wrong
    // address-change code, a flash read of more than 32 bytes. Commands 4, 8 and 10 change the
    // identity before answering; the answer to 4 comes from the new address.
    std::optional<kv::Frame> Answer(const kv::Frame& request);

    const Identity& CurrentIdentity() const { return identity_; }

    // A moved cable: once a flash read has reached the archive's last byte, the controller
    // answers with this serial number and identification (its address and comment stay).
    void BecomeAfterArchive(std::uint16_t serial, QByteArray identification) {
        after_ = Identity{identity_.address, serial, {}, std::move(identification)};
    }

private:
    kv::Frame Reply(std::uint8_t command, QByteArray payload = {}) const;

    Identity identity_;
    QByteArray archive_;
    std::function<QByteArray()> makeArchive_; // set until the archive is made
    std::optional<Identity> after_;           // the controller behind the moved cable
};

} // namespace sim
