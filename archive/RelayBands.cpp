#include "RelayBands.h"

std::vector<RelayStretch> RelayOnStretches(const ChannelSeries& s, int bit) {
    std::vector<RelayStretch> stretches;
    if (bit < 0 || bit >= kRelayBits)
        return stretches;
    const auto& relay = s.Values(ChartField::Relay);
    const std::size_t n = s.time.size();
    std::vector<bool> breakAfter(n, false);
    for (int b : s.breaks)
        if (b > 0 && static_cast<std::size_t>(b) <= n)
            breakAfter[static_cast<std::size_t>(b - 1)] = true;
    const auto on = [&](std::size_t i) { return (static_cast<int>(relay[i]) & (1 << bit)) != 0; };
    std::size_t i = 0;
    while (i < n) {
        if (!on(i)) {
            ++i;
            continue;
        }
        const double start = s.time[i];
        while (i + 1 < n && !breakAfter[i] && on(i + 1))
            ++i;
        const double end = i + 1 < n && !breakAfter[i] ? s.time[i + 1] : s.time[i] + s.logInterval;
        stretches.push_back({start, end});
        ++i;
    }
    return stretches;
}
