#include "Findings.h"

#include "ArchiveGeometry.h"

#include <algorithm>
#include <tuple>

FindingsResult FindFindings(const FindingsInput& input, const std::vector<ChannelSeries>& series,
                            const FindingRules& rules) {
    FindingsResult result;
    // The rules know where one or two channels keep their records and settings; any other count
    // would be judged on the wrong bytes, and silence would read as a clean archive.
    if (input.channelCount < 1 || input.channelCount > MaxChannelCount) {
        result.notJudged =
            (input.channelCount == 0 ? QStringLiteral("число каналов не известно")
                                     : QStringLiteral("число каналов %1").arg(input.channelCount)) +
            QStringLiteral(", а находки ищутся только в архивах с одним или двумя каналами");
        return result;
    }
    if (series.size() != static_cast<std::size_t>(input.channelCount)) {
        result.notJudged = QStringLiteral("записи не разобраны по каналам (каналов %1, рядов %2)")
                               .arg(input.channelCount)
                               .arg(series.size());
        return result;
    }
    std::vector<Finding>& all = result.findings;
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
    return result;
}

FindingsResult FindFindings(const FindingsInput& input, const FindingRules& rules) {
    return FindFindings(input, ExtractChartSeries(input.image, input.channelCount), rules);
}
