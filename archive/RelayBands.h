#pragma once

// The relays' bands under the chart: for each of the 8 relay bits, the stretches of time the
// relay was on. A record's state lasts until the next record, or one logging interval when the
// log breaks after it (or it is the last), so a relay that was on in one record only still shows.

#include "ChartSeries.h"

#include <vector>

constexpr int kRelayBits = 8; // "Р1" … "Р8", bit 0 first

struct RelayStretch {
    double from = 0; // seconds, as the series' times
    double to = 0;
};

// The stretches where relay bit `bit` (0 to 7) was on, in time order; none for another bit.
std::vector<RelayStretch> RelayOnStretches(const ChannelSeries& series, int bit);
