#include "ChartSeries.h"

#include "ArchiveDecoder.h"
#include "ArchiveGeometry.h"
#include "RecordBytes.h"

#include <QDate>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace {

constexpr qint64 kUnixEpochJulianDay = 2440588; // 1970-01-01
constexpr double kBreakIntervals = 3.0; // a longer step than this many intervals breaks a line

// A BCD byte as its number, or -1 when a half-byte is not a decimal digit.
int FromBcd(std::uint8_t b) {
    const int hi = b >> 4, lo = b & 15;
    return hi > 9 || lo > 9 ? -1 : hi * 10 + lo;
}

// The record's date and time as seconds since 1970 (wall time as UTC), or nothing when the
// bytes are no real moment.
std::optional<qint64> RecordTime(const std::uint8_t* r) {
    const int sec = FromBcd(r[0]), min = FromBcd(r[1]), hour = FromBcd(r[2]);
    const int day = FromBcd(r[4]), month = FromBcd(r[5]), year = FromBcd(r[6]);
    if (sec < 0 || sec > 59 || min < 0 || min > 59 || hour < 0 || hour > 23 || year < 0)
        return std::nullopt;
    const QDate date(2000 + year, month, day); // invalid for month 0/13, day 0, 31 April, ...
    if (!date.isValid())
        return std::nullopt;
    return (date.toJulianDay() - kUnixEpochJulianDay) * 86400 + hour * 3600 + min * 60 + sec;
}

double Temperature(std::int16_t tenths) {
    return tenths == TenthsSentinel ? std::numeric_limits<double>::quiet_NaN() : tenths / 10.0;
}

struct Stamped {
    qint64 time;
    int index; // record index in the channel block
};

ChannelSeries ExtractChannel(const std::uint8_t* block, int records) {
    ChannelSeries s;
    std::vector<Stamped> order;
    order.reserve(static_cast<std::size_t>(records));
    for (int i = 0; i < records; ++i) {
        const std::uint8_t* r = block + static_cast<std::ptrdiff_t>(i) * ArchiveRecordSize;
        if (UInt32At(r, 28) != DataRecordMarker)
            continue;
        if (const std::optional<qint64> t = RecordTime(r))
            order.push_back({*t, i});
        else
            ++s.invalidTimes;
    }
    // The ring's oldest record is somewhere in the middle; equal times keep their flash order.
    std::stable_sort(order.begin(), order.end(),
                     [](const Stamped& a, const Stamped& b) { return a.time < b.time; });

    const std::size_t n = order.size();
    s.time.resize(n);
    s.row.resize(n);
    for (auto& v : s.values)
        v.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint8_t* r =
            block + static_cast<std::ptrdiff_t>(order[k].index) * ArchiveRecordSize;
        s.time[k] = static_cast<double>(order[k].time);
        s.row[k] = order[k].index + 1;
        for (int f = 0; f < ChartTemperatureCount; ++f)
            s.values[f][k] = Temperature(Int16At(r, 7 + 2 * f));
        s.values[static_cast<int>(ChartField::Air)][k] = Int16At(r, 25);
        s.values[static_cast<int>(ChartField::Relay)][k] = r[27];
    }

    // The logging interval is the median step between records; idle stretches (power cuts,
    // erased sectors) are much longer and few, so they do not move it.
    std::vector<double> steps;
    steps.reserve(n);
    for (std::size_t k = 1; k < n; ++k)
        if (s.time[k] > s.time[k - 1])
            steps.push_back(s.time[k] - s.time[k - 1]);
    if (!steps.empty()) {
        auto mid = steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2);
        std::nth_element(steps.begin(), mid, steps.end());
        s.logInterval = *mid;
        for (std::size_t k = 1; k < n; ++k)
            if (s.time[k] - s.time[k - 1] > kBreakIntervals * s.logInterval)
                s.breaks.push_back(static_cast<int>(k));
    }
    return s;
}

} // namespace

QString ChartFieldName(ChartField field) {
    static const char* const kNames[ChartFieldCount] = {
        "Тпод", "Тобр", "Тп1", "Тп2", "Тп", "Тнар.", "Тграф", "Туст", "Ттреб", "tвозд", "Реле"};
    return QString::fromUtf8(kNames[static_cast<int>(field)]);
}

std::vector<ChannelSeries> ExtractChartSeries(const QByteArray& image, int channelCount) {
    std::vector<ChannelSeries> result;
    const ArchiveGeometry geo = GeometryFor(channelCount);
    if (geo.recordCount == 0)
        return result;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.constData());
    for (int ch = 0; ch < channelCount; ++ch) {
        const qsizetype start = static_cast<qsizetype>(ch) * geo.channelBlockSize;
        const qsizetype available = std::max<qsizetype>(0, image.size() - start);
        const int records =
            static_cast<int>(std::min<qsizetype>(geo.recordCount, available / ArchiveRecordSize));
        result.push_back(ExtractChannel(bytes + std::min(start, image.size()), records));
    }
    return result;
}

ChannelSeries ExtractRecordSeries(const QByteArray& records) {
    return ExtractChannel(reinterpret_cast<const std::uint8_t*>(records.constData()),
                          static_cast<int>(records.size() / ArchiveRecordSize));
}

std::optional<long long> ChartRecordTime(const std::uint8_t* record32) {
    return RecordTime(record32);
}

int NearestPoint(const ChannelSeries& series, double t) {
    const auto& time = series.time;
    if (time.empty())
        return -1;
    const auto it = std::lower_bound(time.begin(), time.end(), t);
    if (it == time.begin())
        return 0;
    if (it == time.end())
        return static_cast<int>(time.size()) - 1;
    const auto i = static_cast<int>(it - time.begin());
    return t - time[i - 1] <= time[i] - t ? i - 1 : i;
}
