#pragma once

// What the report says of one channel's records: the period they cover and, per temperature, the
// lowest and highest value with their times, the mean and how many records had no value.

#include "ChartSeries.h"

#include <QtGlobal>

#include <array>
#include <optional>

struct TemperatureSummary {
    // Unset when the temperature had no value in any record.
    std::optional<double> min, max, mean;
    qint64 minTime = 0, maxTime = 0; // the first record with each (wall time as UTC)
    int missing = 0;                 // records at -3000
};

struct ChannelSummary {
    int records = 0;            // records with a valid date and time
    int invalidTimes = 0;       // valid records left out for their date or time
    qint64 first = 0, last = 0; // the period covered (when records > 0)
    std::array<TemperatureSummary, ChartTemperatureCount> temperatures{};
};

ChannelSummary SummarizeChannel(const ChannelSeries& series);
