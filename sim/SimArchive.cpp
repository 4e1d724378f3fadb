#include "SimArchive.h"

#include "SimRecordBytes.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace sim {
namespace {

constexpr int kSectorRecords = 4096 / kRecordSize;
constexpr qint64 kLogInterval = 30 * 60; // seconds between records

// Outdoor temperature in a heating season that starts in mid-October: colder towards January,
// warmer in the afternoon, with some weather on top.
double Outdoor(qint64 secondsFromStart, double weather) {
    constexpr double kDay = 86400.0;
    const double day = static_cast<double>(secondsFromStart) / kDay;
    const double hour = std::fmod(day, 1.0) * 24.0;
    const double season = 6.0 - 16.0 * std::sin(std::numbers::pi * std::min(day, 180.0) / 180.0);
    const double daily = 3.0 * std::sin(2.0 * std::numbers::pi * (hour - 9.0) / 24.0);
    return season + daily + weather;
}

struct Circuit {
    double roomSetpoint; // "Туст"
    double curveSlope;   // supply rise per degree of outdoor cold
    double returnShare;  // return as a share of the supply rise over the room
    double offset;       // outdoor reading of this channel's sensor against the other one
};

void FillRecord(std::uint8_t* rec, const QDateTime& when, qint64 fromStart, const Circuit& c,
                double weather, std::mt19937& rng) {
    std::normal_distribution<double> noise(0.0, 0.4);
    const double outdoor = Outdoor(fromStart, weather) + c.offset;
    const double curve =
        std::clamp(c.roomSetpoint + (c.roomSetpoint - outdoor) * c.curveSlope, 30.0, 95.0);
    const double room1 = c.roomSetpoint + 0.8 + noise(rng);
    const double room2 = c.roomSetpoint + 0.3 + noise(rng);
    const double room = (room1 + room2) / 2.0;
    const double required = curve + (c.roomSetpoint - room) * 2.0;
    const double supply = required + noise(rng) * 2.0;
    const double ret = c.roomSetpoint + (supply - c.roomSetpoint) * c.returnShare + noise(rng);

    PutStamp(rec, when);
    PutInt16(rec + 7, Tenths(supply));
    PutInt16(rec + 9, Tenths(ret));
    PutInt16(rec + 11, Tenths(room1));
    PutInt16(rec + 13, Tenths(room2));
    PutInt16(rec + 15, Tenths(room));
    PutInt16(rec + 17, Tenths(outdoor));
    PutInt16(rec + 19, Tenths(curve));
    PutInt16(rec + 21, Tenths(c.roomSetpoint));
    PutInt16(rec + 23, Tenths(required));
    // Valve travel time in seconds over the last interval; opening while the supply lags.
    PutInt16(rec + 25,
             std::clamp(static_cast<int>(std::lround((required - supply) * 12.0)), -120, 120));
    // Relays: bit 0 pump, bit 1 valve opening, bit 2 valve closing.
    rec[27] = static_cast<std::uint8_t>(1 | (supply < required ? 2 : 4));
    std::copy(std::begin(kDataMarker), std::end(kDataMarker), rec + 28);
}

void FillSettings(std::uint8_t* block, const QDateTime& when, int index, int channel) {
    PutStamp(block, when);
    block[7] = static_cast<std::uint8_t>(index == 3 ? 2 : 1); // mode
    block[8] = static_cast<std::uint8_t>(channel + 1);        // regulation type
    PutInt16(block + 9, 12 + index * 2);                      // heating-up coefficient 1
    PutInt16(block + 11, 8 + index);                          // heating-up coefficient 2
    PutInt16(block + 13, 80 + channel * 20);                  // start of heating, tenths
    PutInt16(block + 15, 950 - index * 50);                   // supply limit, tenths
    PutInt16(block + 17, 100 + index * 5);                    // correction factor
    PutInt16(block + 19, 60);                                 // cycle time
    PutInt16(block + 21, 30);                                 // time constant
    PutInt16(block + 23, 120 - index * 10);                   // proportional
    PutInt16(block + 25, 25);                                 // integral
    PutInt16(block + 27, index == 0 ? 0 : 5);                 // derivative
    PutInt16(block + 29, 50);                                 // integral guard, tenths
    block[31] = kSettingsMarker;
}

void FillChannel(std::uint8_t* base, int records, int channel, std::mt19937& rng, bool clean) {
    const Circuit circuit =
        channel == 0 ? Circuit{20.0, 1.45, 0.62, 0.0} : Circuit{18.0, 1.10, 0.55, 0.4};
    const QDateTime seasonStart(QDate(2023, 10, 15), QTime(0, 0), Qt::UTC);

    // The ring: the write position is ahead of the newest record; the sector there is erased.
    const int writePos = records * 5 / 8 + channel * 37;
    const int erasedEnd = std::min(records, writePos + kSectorRecords);
    const int oldLap = records - erasedEnd; // records of the previous lap after the erased sector
    const int powerCut = clean ? -10 : writePos / 3; // a few records never written
    std::uniform_int_distribution<int> stepDist(-1, 1);
    double weather = 0.0;

    auto fillAt = [&](int index, qint64 sequence) {
        weather = std::clamp(weather + 0.15 * stepDist(rng), -4.0, 4.0);
        const qint64 fromStart = sequence * kLogInterval;
        FillRecord(base + static_cast<std::ptrdiff_t>(index) * kRecordSize,
                   seasonStart.addSecs(fromStart), fromStart, circuit, weather, rng);
    };
    qint64 sequence = 0;
    for (int i = erasedEnd; i < records; ++i)
        fillAt(i, sequence++);
    for (int i = 0; i < writePos; ++i, ++sequence) {
        if (i >= powerCut && i < powerCut + 5)
            continue; // stays erased; time goes on
        fillAt(i, sequence);
    }
    // The second room sensor failed for a while; one outdoor reading was lost.
    for (int i = 100; !clean && i < 106 && i < writePos; ++i)
        PutInt16(base + static_cast<std::ptrdiff_t>(i) * kRecordSize + 13, kNoSensor);
    if (!clean && oldLap > 10)
        PutInt16(base + static_cast<std::ptrdiff_t>(erasedEnd + 7) * kRecordSize + 17, kNoSensor);

    std::uint8_t* settings = base + static_cast<std::ptrdiff_t>(records) * kRecordSize;
    for (int k = 0; k < kSettingsBlocks; ++k)
        FillSettings(settings + k * kRecordSize, seasonStart.addDays(k * 21 - 30).addSecs(36000), k,
                     channel);
}

} // namespace

QByteArray GenerateArchive(int channels, std::uint32_t seed, bool clean) {
    QByteArray image(kArchiveSize, static_cast<char>(0xFF));
    std::mt19937 rng(seed);
    auto* bytes = reinterpret_cast<std::uint8_t*>(image.data());
    for (int c = 0; c < channels; ++c)
        FillChannel(bytes + static_cast<std::ptrdiff_t>(c) * ChannelBlockSize(channels),
                    RecordsPerChannel(channels), c, rng, clean);
    return image;
}

} // namespace sim
