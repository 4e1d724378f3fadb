#pragma once

// One finding: something in an archive that an engineer would otherwise hunt for by hand. A
// finding that lasts is one finding with its span, never one per record.

#include <QString>

#include <QtGlobal>

enum class FindingKind {
    SensorMissing,     // a temperature at -3000 ("???,?") for longer than two logging intervals
    SensorStuck,       // a measured temperature unchanged to the tenth for a day while others moved
    ReturnAboveSupply, // "Тобр" above "Тпод" for hours
    OffCurve,          // "Тпод" away from "Тграф" for hours
    LogGap,            // records missing for more than two logging intervals
    ClockJump,         // record times out of order, or later than the download
    RelayCycling,      // a relay bit that changes at most records over a day
    SettingsChanged,   // a settings block that differs from the previous visit's
};
constexpr int FindingKindCount = 8;

// The kind's identifier as the command line prints it: "sensor-missing", "clock-jump", ...
QString FindingKindId(FindingKind kind);
// The kind in a few Russian words for the report's table: "Датчик не отвечает", ...
QString FindingKindTitle(FindingKind kind);

struct Finding {
    int channel = 1; // 1-based
    FindingKind kind = FindingKind::LogGap;
    // The span, as seconds since 1970-01-01 with the controller's wall time taken as UTC (the
    // charts' time axis): the first and the last moment the finding concerns.
    qint64 from = 0;
    qint64 to = 0;
    QString sensor; // the column heading ("Тпод", "Р3", "Кп, Ки"); empty where none applies
    QString detail; // one plain-Russian sentence that names the fault and its time
};

// "2024-01-31 08:15:00": a time of a finding as the command line prints it.
QString FindingTimeText(qint64 secondsWallAsUtc);
// "31.01.2024 08:15": the same as the report's sentences show it.
QString FindingTimeShort(qint64 secondsWallAsUtc);
// "5 ч", "1 сут 6 ч", "30 мин": a duration in words.
QString FindingDuration(qint64 seconds);
// Degrees with one decimal and a comma: 21.5 -> "21,5".
QString FindingDegrees(double degrees);
