#pragma once

// The archive image as numbers over time, for the charts: per channel, every valid data record
// with a valid date and time becomes one point of each series. Works on the image, never on the
// grid texts, and knows nothing of widgets.
//
// The flash is a ring: the oldest record need not be the first one, so points are ordered by
// their time (records with the same time keep their flash order). A record whose marker is wrong
// is skipped as the grids skip it; a valid record whose date or time is not a real calendar
// moment (bytes that are not BCD, month 13, 31 April, 25 o'clock) is left out and counted. The
// two-digit year is taken as 2000..2099. Times are the controller's clock as read, carried as
// seconds since 1970-01-01 00:00 with the clock's wall time taken as UTC (no daylight saving
// jumps or holes).

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The series of a data record, in the order of its fields (and of the data grid's columns 3..13).
enum class ChartField {
    Supply,       // "Тпод"
    Return,       // "Тобр"
    Room1,        // "Тп1"
    Room2,        // "Тп2"
    Room,         // "Тп"
    Outdoor,      // "Тнар."
    Curve,        // "Тграф", the heating curve's target
    RoomSetpoint, // "Туст"
    Required,     // "Ттреб"
    Air,          // "tвозд", a plain integer
    Relay,        // "Реле", 8 relay bits, 0..255
};
constexpr int ChartFieldCount = 11;
constexpr int ChartTemperatureCount = 9; // the fields in tenths of a degree come first

// The field's heading as the data grid shows it.
QString ChartFieldName(ChartField field);

struct ChannelSeries {
    // One entry per point, in time order.
    std::vector<double> time; // seconds since 1970-01-01, the controller's wall time as UTC
    std::vector<int> row;     // the record's row in the channel's data grid (record index + 1)
    // Per field, one value per point: degrees for the temperatures (NaN where the sensor was
    // missing, -3000 in the record), the plain integer for "tвозд" and "Реле".
    std::array<std::vector<double>, ChartFieldCount> values;
    // Indices i > 0 where the time since point i - 1 is longer than a few logging intervals:
    // a line must not join point i - 1 to point i.
    std::vector<int> breaks;
    double logInterval = 0; // seconds: the usual step between consecutive points (0: unknown)
    int invalidTimes = 0;   // valid records left out for their date or time

    const std::vector<double>& Values(ChartField field) const {
        return values[static_cast<int>(field)];
    }
    bool Empty() const { return time.empty(); }
};

// The series of channels 1..channelCount (1 or 2; anything else gives none) of an image laid out
// as the controller lays it out for that channel count. An image shorter than the archive yields
// the records that fit whole.
std::vector<ChannelSeries> ExtractChartSeries(const QByteArray& image, int channelCount);

// The series of consecutive 32-byte records in any order (e.g. a controller's history merged from
// several downloads); a point's row is its record's place in records, from 1.
ChannelSeries ExtractRecordSeries(const QByteArray& records);

// A data record's date and time as seconds since 1970 (the clock's wall time as UTC), or nothing
// when its bytes are no real moment. The marker is not looked at.
std::optional<long long> ChartRecordTime(const std::uint8_t* record32);

// The index of the point nearest to time t (-1 when there are none).
int NearestPoint(const ChannelSeries& series, double t);
