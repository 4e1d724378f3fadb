#include "ModemPackets.h"

#include <algorithm>

namespace sim {
namespace {

Packet Prefixed(const ModemFraming& modem, const std::uint8_t* begin, const std::uint8_t* end) {
    Packet packet;
    if (modem.registrationEveryPacket)
        packet = modem.registration;
    packet.insert(packet.end(), begin, end);
    return packet;
}

// Bytes from begin to end in writes of at most packetBytes each (one write when that is 0).
void Cut(const ModemFraming& modem, const std::uint8_t* begin, const std::uint8_t* end,
         std::vector<Packet>& out) {
    const auto total = static_cast<std::size_t>(end - begin);
    const std::size_t step =
        modem.packetBytes > 0 ? modem.packetBytes : std::max<std::size_t>(total, 1);
    for (std::size_t at = 0; at < total; at += step)
        out.push_back(Prefixed(modem, begin + at, begin + std::min(total, at + step)));
}

} // namespace

std::vector<Packet> AnswerPackets(const ModemFraming& modem, const std::vector<std::uint8_t>& bytes,
                                  std::size_t frameAt) {
    std::vector<Packet> out;
    const std::uint8_t* begin = bytes.data();
    const std::uint8_t* end = begin + bytes.size();
    if (!modem.heartbeatInside) {
        Cut(modem, begin, end, out);
        return out;
    }
    const std::uint8_t* middle = begin + frameAt + (bytes.size() - frameAt) / 2;
    Cut(modem, begin, middle, out);
    out.push_back(HeartbeatPacket(modem));
    Cut(modem, middle, end, out);
    return out;
}

Packet HeartbeatPacket(const ModemFraming& modem) {
    return Prefixed(modem, modem.heartbeat.data(), modem.heartbeat.data() + modem.heartbeat.size());
}

} // namespace sim
