#pragma once

// How a serial-to-cellular modem puts the controller's answers on its call: the bytes of each
// write it makes, with its registration and heartbeat bytes where it puts them.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

using Packet = std::vector<std::uint8_t>;

struct ModemFraming {
    Packet registration;                  // sent once when the call is up
    Packet heartbeat{'K', 'V', 'H', 'B'}; // the keep-alive bytes
    std::int64_t heartbeatEveryNs = 0;    // 0: no heartbeat
    bool heartbeatInside = false;         // every answer frame in two writes, heartbeat between
    bool registrationEveryPacket = false; // every write starts with the registration
    std::size_t packetBytes = 0;          // at most this many answer bytes a write; 0: whole
};

// The writes that carry one answer: bytes holds the noise before the frame (if any), then the
// frame from frameAt on.
std::vector<Packet> AnswerPackets(const ModemFraming& modem, const std::vector<std::uint8_t>& bytes,
                                  std::size_t frameAt);

// The write that carries one heartbeat.
Packet HeartbeatPacket(const ModemFraming& modem);

} // namespace sim
