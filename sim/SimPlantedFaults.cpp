#include "SimPlantedFaults.h"

#include "SimArchive.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace sim {
namespace {

constexpr std::int16_t kNoSensor = -3000;
const char* const kSensorNames[9] = {"Тпод",  "Тобр",  "Тп1",  "Тп2",  "Тп",
                                     "Тнар.", "Тграф", "Туст", "Ттреб"};

int FromBcd(std::uint8_t b) {
    return (b >> 4) * 10 + (b & 15);
}
std::uint8_t Bcd(int value) {
    return static_cast<std::uint8_t>((value / 10) * 16 + value % 10);
}

std::optional<QDateTime> Stamp(const std::uint8_t* r) {
    const QDate date(2000 + FromBcd(r[6]), FromBcd(r[5]), FromBcd(r[4]));
    const QTime time(FromBcd(r[2]), FromBcd(r[1]), FromBcd(r[0]));
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::UTC);
}

void PutStamp(std::uint8_t* r, const QDateTime& when) {
    r[0] = Bcd(when.time().second());
    r[1] = Bcd(when.time().minute());
    r[2] = Bcd(when.time().hour());
    r[4] = Bcd(when.date().day());
    r[5] = Bcd(when.date().month());
    r[6] = Bcd(when.date().year() % 100);
}

std::int16_t Get16(const std::uint8_t* r, int field) {
    return static_cast<std::int16_t>(r[7 + 2 * field] | (r[8 + 2 * field] << 8));
}
void Put16(std::uint8_t* r, int field, int value) {
    const auto v = static_cast<std::uint16_t>(static_cast<std::int16_t>(value));
    r[7 + 2 * field] = static_cast<std::uint8_t>(v & 0xFF);
    r[8 + 2 * field] = static_cast<std::uint8_t>(v >> 8);
}

bool Valid(const std::uint8_t* r) {
    return r[28] == 0x33 && r[29] == 0x12 && r[30] == 0 && r[31] == 0;
}

// The records of one channel in time order (index into the block, time stamp).
std::vector<std::pair<QDateTime, int>> TimeOrder(const std::uint8_t* block, int records) {
    std::vector<std::pair<QDateTime, int>> order;
    for (int i = 0; i < records; ++i) {
        const std::uint8_t* r = block + static_cast<std::ptrdiff_t>(i) * kRecordSize;
        if (Valid(r))
            if (const auto t = Stamp(r))
                order.emplace_back(*t, i);
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return order;
}

void Plant(std::uint8_t* block, int records, const PlantedFault& f) {
    const QDateTime end = f.start.addSecs(static_cast<qint64>(f.hours * 3600.0));
    bool first = true;
    int held = 0;
    for (const auto& [time, index] : TimeOrder(block, records)) {
        std::uint8_t* r = block + static_cast<std::ptrdiff_t>(index) * kRecordSize;
        if (f.kind == PlantedKind::ClockBack) {
            if (time >= f.start)
                PutStamp(r, time.addSecs(-static_cast<qint64>(f.hours * 3600.0)));
            continue;
        }
        if (time < f.start || time >= end)
            continue;
        switch (f.kind) {
        case PlantedKind::SensorDrop:
            Put16(r, f.sensor, kNoSensor);
            break;
        case PlantedKind::SensorStick:
            if (first)
                held = Get16(r, f.sensor);
            Put16(r, f.sensor, held);
            break;
        case PlantedKind::ReturnAbove:
            Put16(r, 1, Get16(r, 0) + 30);
            break;
        case PlantedKind::OffCurve: {
            const int drop = Get16(r, 0) - (Get16(r, 6) - 150);
            Put16(r, 0, Get16(r, 0) - drop);
            Put16(r, 1, Get16(r, 1) - drop);
            break;
        }
        case PlantedKind::LogGap:
            std::fill(r, r + kRecordSize, std::uint8_t{0xFF});
            break;
        case PlantedKind::RelayCycle: {
            const std::uint8_t bit = static_cast<std::uint8_t>(1u << (f.relay - 1));
            r[27] = static_cast<std::uint8_t>((r[27] & ~bit) | (index % 2 ? bit : 0));
            break;
        }
        case PlantedKind::ClockBack:
            break;
        }
        first = false;
    }
}

} // namespace

const std::vector<PlantedOption>& PlantedOptions() {
    static const std::vector<PlantedOption> options = {
        {PlantedKind::SensorDrop, "sensor-drop",
         "A sensor reads -3000 from START for HOURS (EXTRA: its heading, default Тнар.)."},
        {PlantedKind::SensorStick, "sensor-stick",
         "A sensor holds one value from START for HOURS (EXTRA: its heading, default Тп1)."},
        {PlantedKind::ReturnAbove, "return-above",
         "Тобр 3 degrees above Тпод from START for HOURS."},
        {PlantedKind::OffCurve, "off-curve", "Тпод 15 degrees below Тграф from START for HOURS."},
        {PlantedKind::LogGap, "log-gap", "No records from START for HOURS."},
        {PlantedKind::ClockBack, "clock-back",
         "At START the clock goes back by HOURS; later records carry the earlier times. "
         "With --at, a number alone: the clock was set back that many days a day before it."},
        {PlantedKind::RelayCycle, "relay-cycle",
         "A relay switches at every record from START for HOURS (EXTRA: relay 1 to 8, "
         "default 1)."},
    };
    return options;
}

std::optional<PlantedFault> ParsePlantedFault(PlantedKind kind, const QString& text,
                                              QString& error) {
    const QStringList parts = text.split(u',');
    PlantedFault f;
    f.kind = kind;
    f.sensor = kind == PlantedKind::SensorStick ? 2 : 5;
    bool okChannel = false, okHours = false;
    if (parts.size() >= 3 && parts.size() <= 4) {
        f.channel = parts[0].trimmed().toInt(&okChannel);
        // The controller's wall time, carried as UTC.
        const QDateTime given = QDateTime::fromString(parts[1].trimmed(), Qt::ISODate);
        f.start = QDateTime(given.date(), given.time(), Qt::UTC);
        f.hours = parts[2].trimmed().toDouble(&okHours);
    }
    if (!okChannel || f.channel < 1 || f.channel > 2 || !f.start.isValid() || !okHours ||
        !(f.hours > 0) || f.hours > 24.0 * 366) {
        error = "wants CH,START,HOURS[,EXTRA], e.g. 1,2023-12-01T06:00,12";
        return std::nullopt;
    }
    if (parts.size() == 4) {
        const QString extra = parts[3].trimmed();
        if (kind == PlantedKind::SensorDrop || kind == PlantedKind::SensorStick) {
            const auto* it =
                std::find_if(std::begin(kSensorNames), std::end(kSensorNames),
                             [&](const char* n) { return extra == QString::fromUtf8(n); });
            if (it == std::end(kSensorNames)) {
                error = "unknown sensor " + extra +
                        " (Тпод, Тобр, Тп1, Тп2, Тп, Тнар., Тграф, "
                        "Туст, Ттреб)";
                return std::nullopt;
            }
            f.sensor = static_cast<int>(it - std::begin(kSensorNames));
        } else if (kind == PlantedKind::RelayCycle) {
            bool ok = false;
            f.relay = extra.toInt(&ok);
            if (!ok || f.relay < 1 || f.relay > 8) {
                error = "the relay is a number from 1 to 8";
                return std::nullopt;
            }
        } else {
            error = "takes no fourth field";
            return std::nullopt;
        }
    }
    return f;
}

void PlantFaults(QByteArray& image, int channels, const std::vector<PlantedFault>& faults) {
    if (image.size() < kArchiveSize || channels < 1 || channels > 2)
        return;
    auto* bytes = reinterpret_cast<std::uint8_t*>(image.data());
    const int records = RecordsPerChannel(channels);
    for (bool clock : {false, true})
        for (const PlantedFault& f : faults)
            if ((f.kind == PlantedKind::ClockBack) == clock && f.channel <= channels)
                Plant(bytes +
                          static_cast<std::ptrdiff_t>(f.channel - 1) * ChannelBlockSize(channels),
                      records, f);
}

} // namespace sim
