#pragma once

// Faults planted into an archive at known times, for the findings' tests, their measurement and
// the demo: a sensor that drops out or sticks, return above supply, supply off its curve, a gap in
// the log, the clock set back, a relay that cycles. Each is laid into the records of one channel
// whose time stamps fall within its span; the records keep their place in the flash.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace sim {

enum class PlantedKind {
    SensorDrop,  // the sensor reads -3000 over the span
    SensorStick, // the sensor holds the value of the span's first record
    ReturnAbove, // "Тобр" 3 degrees above "Тпод"
    OffCurve,    // "Тпод" 15 degrees below "Тграф" ("Тобр" follows it down)
    LogGap,      // the span's records erased
    ClockBack,   // at start the clock goes back by the length: later records carry earlier times
    RelayCycle,  // a relay switches at every record
};

struct PlantedFault {
    PlantedKind kind = PlantedKind::SensorDrop;
    int channel = 1;  // 1-based
    QDateTime start;  // the controller's wall time, as UTC
    double hours = 0; // the length (for ClockBack: how far the clock goes back)
    int sensor = 0; // SensorDrop, SensorStick: the temperature's field, 0 "Тпод" .. 8 "Ттреб"
    int relay = 1; // RelayCycle: 1..8
};

// The option's name and help line for each kind, in the order above.
struct PlantedOption {
    PlantedKind kind;
    const char* name; // "sensor-drop"
    const char* help;
};
const std::vector<PlantedOption>& PlantedOptions();

// "CH,START,HOURS[,EXTRA]" for the kind: CH 1 or 2, START "2023-12-01T06:00", HOURS > 0, EXTRA the
// sensor's heading (SensorDrop, SensorStick; e.g. "Тобр") or the relay's number (RelayCycle).
// Nothing, with the reason in error, when the text is not such.
std::optional<PlantedFault> ParsePlantedFault(PlantedKind kind, const QString& text,
                                              QString& error);

// Lays every fault into the image of a controller with the given channel count. Faults of a
// channel beyond the count change nothing. ClockBack is applied after the others, which find
// their records by the times as they were logged.
void PlantFaults(QByteArray& image, int channels, const std::vector<PlantedFault>& faults);

} // namespace sim
