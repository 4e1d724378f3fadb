#include "SimHistory.h"

#include "SimArchive.h"
#include "SimRecordBytes.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {
namespace {

constexpr int kSectorRecords = 4096 / kRecordSize;
constexpr qint64 kRecordsPerDay = 86400 / kHistoryLogInterval;
constexpr qint64 kSettingsEvery = 45 * 86400; // seconds between changes of settings

// splitmix64: a well-mixed number from a key, so that a record's noise needs no sequence.
std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

std::uint64_t Key(std::uint32_t seed, int channel, qint64 number, int what) {
    return Mix(Mix(Mix(seed) ^ static_cast<std::uint64_t>(channel * 16 + what)) ^
               static_cast<std::uint64_t>(number));
}

// Uniform in [-1, 1).
double Noise(std::uint64_t key) {
    return static_cast<double>(Mix(key) >> 11) / static_cast<double>(1ULL << 52) - 1.0;
}

// A day with a short power cut: records 20..24 of that day are never written.
bool PowerCut(std::uint32_t seed, qint64 number) {
    const qint64 day = number / kRecordsPerDay, inDay = number % kRecordsPerDay;
    return inDay >= 20 && inDay < 25 && Mix(Key(seed, 0, day, 9)) % 53 == 0;
}

// Outdoor temperature: cold in January, warm in July, warmer in the afternoon, with weather that
// wanders over days (phases from the seed).
double Outdoor(std::uint32_t seed, qint64 seconds) {
    const double day = static_cast<double>(seconds) / 86400.0;
    const double hour = std::fmod(day, 1.0) * 24.0;
    const double phase = static_cast<double>(Mix(seed) % 1000) / 1000.0 * 2.0 * std::numbers::pi;
    const double season = 5.0 - 15.0 * std::cos(2.0 * std::numbers::pi * (day - 15.0) / 365.25);
    const double daily = 3.0 * std::sin(2.0 * std::numbers::pi * (hour - 9.0) / 24.0);
    const double weather =
        3.0 * std::sin(day / 5.3 + phase) + 1.5 * std::sin(day / 1.7 + 2.0 * phase);
    return season + daily + weather;
}

void FillRecord(std::uint8_t* rec, std::uint32_t seed, int channel, qint64 number,
                qint64 stampShift) {
    const qint64 seconds = number * kHistoryLogInterval;
    const double setpoint = channel == 0 ? 20.0 : 18.0;
    const double slope = channel == 0 ? 1.45 : 1.10;
    const double share = channel == 0 ? 0.62 : 0.55;
    auto noise = [&](int what, double size) {
        return Noise(Key(seed, channel, number, what)) * size;
    };
    const double outdoor = Outdoor(seed, seconds) + channel * 0.4 + noise(1, 0.2);
    const double curve = std::clamp(setpoint + (setpoint - outdoor) * slope, 30.0, 95.0);
    const double room1 = setpoint + 0.8 + noise(2, 0.6);
    const double room2 = setpoint + 0.3 + noise(3, 0.6);
    const double room = (room1 + room2) / 2.0;
    const double required = curve + (setpoint - room) * 2.0;
    const double supply = required + noise(4, 2.5);
    const double ret = setpoint + (supply - setpoint) * share + noise(5, 0.6);

    PutStamp(rec, HistoryStart().addSecs(std::max<qint64>(0, seconds - stampShift)));
    PutInt16(rec + 7, Tenths(supply));
    PutInt16(rec + 9, Tenths(ret));
    PutInt16(rec + 11, Tenths(room1));
    PutInt16(rec + 13, Tenths(room2));
    PutInt16(rec + 15, Tenths(room));
    PutInt16(rec + 17, Tenths(outdoor));
    PutInt16(rec + 19, Tenths(curve));
    PutInt16(rec + 21, Tenths(setpoint));
    PutInt16(rec + 23, Tenths(required));
    PutInt16(rec + 25,
             std::clamp(static_cast<int>(std::lround((required - supply) * 12.0)), -120, 120));
    rec[27] = static_cast<std::uint8_t>(1 | (supply < required ? 2 : 4));
    std::copy(std::begin(kDataMarker), std::end(kDataMarker), rec + 28);
}

// Settings change number change, as its block holds it.
void FillSettings(std::uint8_t* block, std::uint32_t seed, int channel, qint64 change) {
    const auto v = static_cast<int>(Mix(Key(seed, channel, change, 7)) % 5);
    PutStamp(block, HistoryStart().addSecs(change * kSettingsEvery + 10 * 3600));
    block[7] = static_cast<std::uint8_t>(change % 3 == 2 ? 2 : 1); // mode
    block[8] = static_cast<std::uint8_t>(channel + 1);             // regulation type
    PutInt16(block + 9, 12 + v * 2);
    PutInt16(block + 11, 8 + v);
    PutInt16(block + 13, 80 + channel * 20);
    PutInt16(block + 15, 950 - v * 50);
    PutInt16(block + 17, 100 + v * 5);
    PutInt16(block + 19, 60);
    PutInt16(block + 21, 30);
    PutInt16(block + 23, 120 - v * 10);
    PutInt16(block + 25, 25);
    PutInt16(block + 27, v == 0 ? 0 : 5);
    PutInt16(block + 29, 50);
    block[31] = kSettingsMarker;
}

void FillChannel(std::uint8_t* base, int records, int channel, std::uint32_t seed, qint64 now,
                 qint64 clockBack) {
    const qint64 setBack = now - 86400;                   // when the clock was set back
    const qint64 written = now / kHistoryLogInterval + 1; // records 0 .. written - 1 so far
    const qint64 writePos = written % records;
    // Writing into a sector erased it whole: the slots from the write position to the sector's
    // end hold nothing.
    const qint64 erasedEnd =
        std::min<qint64>(records, (writePos / kSectorRecords + 1) * kSectorRecords);
    for (qint64 number = std::max<qint64>(0, written - records); number < written; ++number) {
        const qint64 slot = number % records;
        if ((slot >= writePos && slot < erasedEnd) || PowerCut(seed, number))
            continue;
        FillRecord(base + slot * kRecordSize, seed, channel, number,
                   clockBack > 0 && number * kHistoryLogInterval >= setBack ? clockBack : 0);
    }
    std::uint8_t* settings = base + static_cast<std::ptrdiff_t>(records) * kRecordSize;
    const qint64 lastChange = now / kSettingsEvery;
    for (qint64 change = std::max<qint64>(0, lastChange - kSettingsBlocks + 1);
         change <= lastChange; ++change)
        FillSettings(settings + (change % kSettingsBlocks) * kRecordSize, seed, channel, change);
}

} // namespace

QDateTime HistoryStart() {
    return QDateTime(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
}

QByteArray HistoryArchiveAt(int channels, std::uint32_t seed, const QDateTime& at,
                            int clockBackDays) {
    QByteArray image(kArchiveSize, static_cast<char>(0xFF));
    const qint64 now = std::max<qint64>(0, HistoryStart().secsTo(at));
    auto* bytes = reinterpret_cast<std::uint8_t*>(image.data());
    for (int c = 0; c < channels; ++c)
        FillChannel(bytes + static_cast<std::ptrdiff_t>(c) * ChannelBlockSize(channels),
                    RecordsPerChannel(channels), c, seed, now, qint64{clockBackDays} * 86400);
    return image;
}

} // namespace sim
