#include "Findings.h"

#include <algorithm>
#include <tuple>

std::vector<Finding> FindFindings(const FindingsInput& input,
                                  const std::vector<ChannelSeries>& series,
                                  const FindingRules& rules) {
    std::vector<Finding> all;
    for (std::size_t k = 0; k < series.size(); ++k) {
        const int channel = static_cast<int>(k) + 1;
        auto add = [&all](std::vector<Finding>&& more) {
            all.insert(all.end(), std::make_move_iterator(more.begin()),
                       std::make_move_iterator(more.end()));
        };
        add(SeriesFindings(series[k], channel, rules));
        add(ClockFindings(series[k], channel, input.downloadedAt, rules));
        add(SettingsFindings(input, channel));
    }
    std::stable_sort(all.begin(), all.end(), [](const Finding& a, const Finding& b) {
        return std::tuple(-a.to, -a.from, a.channel, static_cast<int>(a.kind)) <
               std::tuple(-b.to, -b.from, b.channel, static_cast<int>(b.kind));
    });
    return all;
}

std::vector<Finding> FindFindings(const FindingsInput& input, const FindingRules& rules) {
    return FindFindings(input, ExtractChartSeries(input.image, input.channelCount), rules);
}
