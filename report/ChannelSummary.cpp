#include "ChannelSummary.h"

#include <cmath>

ChannelSummary SummarizeChannel(const ChannelSeries& series) {
    ChannelSummary s;
    s.records = static_cast<int>(series.time.size());
    s.invalidTimes = series.invalidTimes;
    if (series.Empty())
        return s;
    s.first = static_cast<qint64>(series.time.front());
    s.last = static_cast<qint64>(series.time.back());
    for (int f = 0; f < ChartTemperatureCount; ++f) {
        TemperatureSummary& t = s.temperatures[f];
        double sum = 0;
        int count = 0;
        for (std::size_t i = 0; i < series.time.size(); ++i) {
            const double v = series.values[f][i];
            if (std::isnan(v)) {
                ++t.missing;
                continue;
            }
            if (!t.min || v < *t.min) {
                t.min = v;
                t.minTime = static_cast<qint64>(series.time[i]);
            }
            if (!t.max || v > *t.max) {
                t.max = v;
                t.maxTime = static_cast<qint64>(series.time[i]);
            }
            sum += v;
            ++count;
        }
        if (count > 0)
            t.mean = sum / count;
    }
    return s;
}
