#pragma once

// How the simulated controller writes the fields of its 32-byte records: BCD date and time,
// little-endian 16-bit values, the data record's marker.

#include <QDateTime>

#include <cmath>
#include <cstdint>

namespace sim {

constexpr std::uint8_t kDataMarker[4] = {0x33, 0x12, 0x00, 0x00};
constexpr std::uint8_t kSettingsMarker = 0x51;
constexpr std::int16_t kNoSensor = -3000;

inline std::uint8_t Bcd(int value) {
    return static_cast<std::uint8_t>((value / 10) * 16 + value % 10);
}

inline void PutInt16(std::uint8_t* at, int value) {
    const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
    at[0] = static_cast<std::uint8_t>(v & 0xFF);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

inline int Tenths(double celsius) {
    return static_cast<int>(std::lround(celsius * 10.0));
}

// Seconds, minutes, hours, 0, day, month, two-digit year: bytes 0..6 of a record or block.
inline void PutStamp(std::uint8_t* rec, const QDateTime& when) {
    const QTime t = when.time();
    const QDate d = when.date();
    rec[0] = Bcd(t.second());
    rec[1] = Bcd(t.minute());
    rec[2] = Bcd(t.hour());
    rec[3] = 0;
    rec[4] = Bcd(d.day());
    rec[5] = Bcd(d.month());
    rec[6] = Bcd(d.year() % 100);
}

} // namespace sim
