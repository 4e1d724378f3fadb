#pragma once

// Builds archive images for the tests byte by byte, the way the controller writes its flash:
// little-endian numbers, BCD date and time, the record marker 33 12 00 00 and the settings
// marker 'Q'. Written independently of the decoder so that a test states what the controller
// stores, not what the decoder reads.

#include <QByteArray>

#include <array>
#include <cstdint>

namespace testimage {

using Bytes32 = std::array<std::uint8_t, 32>;

constexpr int kArchiveBytes = 0x42000;

struct Record {
    std::uint8_t sec = 0x45, min = 0x30, hour = 0x08;   // 08:30:45
    std::uint8_t day = 0x15, month = 0x03, year = 0x10; // 15.03.10
    std::array<std::int16_t, 9> tenths{};               // supply, return, ... required temperature
    std::int16_t air = 0;
    std::uint8_t relay = 0;
    std::uint32_t marker = 0x1233;
};

struct Settings {
    std::uint8_t sec = 0x00, min = 0x15, hour = 0x23;
    std::uint8_t day = 0x31, month = 0x12, year = 0x99;
    std::uint8_t mode = 0, type = 0;
    std::int16_t k1 = 0, k2 = 0;        // tenths, no sentinel
    std::int16_t tStart = 0, tEnd = 0;  // tenths with sentinel
    std::array<std::int16_t, 6> ints{}; // correction, cycle, constant, P, I, D
    std::int16_t protect = 0;           // tenths, no sentinel
    std::uint8_t marker = 0x51;
};

inline void Put16(Bytes32& b, int at, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    b[at] = static_cast<std::uint8_t>(u & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>(u >> 8);
}

inline Bytes32 Encode(const Record& r) {
    Bytes32 b{};
    b[0] = r.sec;
    b[1] = r.min;
    b[2] = r.hour;
    b[3] = 0xEE; // unused byte
    b[4] = r.day;
    b[5] = r.month;
    b[6] = r.year;
    for (int i = 0; i < 9; ++i)
        Put16(b, 7 + 2 * i, r.tenths[i]);
    Put16(b, 25, r.air);
    b[27] = r.relay;
    for (int i = 0; i < 4; ++i)
        b[28 + i] = static_cast<std::uint8_t>(r.marker >> (8 * i));
    return b;
}

inline Bytes32 Encode(const Settings& s) {
    Bytes32 b{};
    b[0] = s.sec;
    b[1] = s.min;
    b[2] = s.hour;
    b[3] = 0xEE;
    b[4] = s.day;
    b[5] = s.month;
    b[6] = s.year;
    b[7] = s.mode;
    b[8] = s.type;
    Put16(b, 9, s.k1);
    Put16(b, 11, s.k2);
    Put16(b, 13, s.tStart);
    Put16(b, 15, s.tEnd);
    for (int i = 0; i < 6; ++i)
        Put16(b, 17 + 2 * i, s.ints[i]);
    Put16(b, 29, s.protect);
    b[31] = s.marker;
    return b;
}

inline void Place(QByteArray& image, int offset, const Bytes32& b) {
    for (int i = 0; i < 32; ++i)
        image[offset + i] = static_cast<char>(b[i]);
}

inline QByteArray ErasedImage() {
    return QByteArray(kArchiveBytes, static_cast<char>(0xFF));
}

inline std::uint8_t Bcd(int v) {
    return static_cast<std::uint8_t>(((v / 10) % 10) << 4 | (v % 10));
}

// A plausible record that differs from its neighbours: numbered n, logged every 10 minutes.
inline Record SampleRecord(int n) {
    Record r;
    r.sec = Bcd(n % 60);
    r.min = Bcd((n / 6) % 6 * 10);
    r.hour = Bcd((n / 36) % 24);
    r.day = Bcd(1 + (n / 864) % 28);
    r.month = Bcd(1 + (n / 24192) % 12);
    r.year = Bcd(24);
    for (int i = 0; i < 9; ++i)
        r.tenths[i] = static_cast<std::int16_t>((n * 7 + i * 113) % 1200 - 300);
    r.air = static_cast<std::int16_t>(n % 500);
    r.relay = static_cast<std::uint8_t>(n);
    return r;
}

inline Settings SampleSettings(int n) {
    Settings s;
    s.mode = static_cast<std::uint8_t>(n);
    s.type = static_cast<std::uint8_t>(n + 1);
    s.k1 = static_cast<std::int16_t>(10 + n);
    s.k2 = static_cast<std::int16_t>(-20 - n);
    s.tStart = static_cast<std::int16_t>(80 + n);
    s.tEnd = static_cast<std::int16_t>(-150);
    for (int i = 0; i < 6; ++i)
        s.ints[i] = static_cast<std::int16_t>(n * 100 + i);
    s.protect = static_cast<std::int16_t>(55);
    return s;
}

// A full image for 1 or 2 channels: every record valid except every 97th (erased), settings
// blocks 1, 2 and 4 valid, block 3 erased.
inline QByteArray FullImage(int channels) {
    QByteArray image = ErasedImage();
    const int block = kArchiveBytes / channels;
    const int records = (block - 128) / 32;
    for (int ch = 0; ch < channels; ++ch) {
        for (int i = 0; i < records; ++i)
            if (i % 97 != 50)
                Place(image, ch * block + 32 * i, Encode(SampleRecord(i + ch * 10000)));
        for (int j = 0; j < 4; ++j)
            if (j != 2)
                Place(image, ch * block + records * 32 + 32 * j,
                      Encode(SampleSettings(j + ch * 4)));
    }
    return image;
}

} // namespace testimage
