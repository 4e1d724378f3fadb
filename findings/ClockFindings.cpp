// clock-jump: the controller writes its records round the flash ring in the order they happen,
// so read in flash order their times rise, with one turn from the newest back to the oldest
// where the ring wraps (or, before it first wraps, from the last record back to the first). Every
// other step back in time is the clock set back.

#include "Findings.h"

#include <algorithm>
#include <numeric>

namespace {

struct Stamp {
    int row;
    double time;
};

QDateTime WallAsUtc(const QDateTime& when) {
    // The download's wall clock where it was read, compared with the controller's wall clock.
    return QDateTime(when.date(), when.time(), Qt::UTC);
}

} // namespace

std::vector<Finding> ClockFindings(const ChannelSeries& series, int channel,
                                   const QDateTime& downloadedAt, const FindingRules& rules) {
    std::vector<Finding> out;
    const std::size_t n = series.time.size();
    if (n >= 2) {
        std::vector<Stamp> flash(n);
        for (std::size_t k = 0; k < n; ++k)
            flash[k] = {series.row[k], series.time[k]};
        std::sort(flash.begin(), flash.end(),
                  [](const Stamp& a, const Stamp& b) { return a.row < b.row; });
        // Steps back in time round the ring: k is the record after the step.
        std::vector<std::size_t> back;
        for (std::size_t k = 0; k < n; ++k) {
            const Stamp& before = flash[(k + n - 1) % n];
            if (flash[k].time < before.time)
                back.push_back(k);
        }
        // The ring's own turn is the longest step back: it spans the whole archive.
        auto drop = [&](std::size_t k) { return flash[(k + n - 1) % n].time - flash[k].time; };
        const auto turn =
            std::max_element(back.begin(), back.end(),
                             [&](std::size_t a, std::size_t b) { return drop(a) < drop(b); });
        for (auto it = back.begin(); it != back.end(); ++it) {
            if (it == turn)
                continue;
            const Stamp& before = flash[(*it + n - 1) % n];
            const Stamp& after = flash[*it];
            out.push_back({channel, FindingKind::ClockJump, static_cast<qint64>(after.time),
                           static_cast<qint64>(before.time), QString(),
                           QStringLiteral("Часы регулятора переведены назад на %1: за записью "
                                          "%2 (строка %3) следует запись %4 (строка %5).")
                               .arg(FindingDuration(static_cast<qint64>(before.time - after.time)),
                                    FindingTimeShort(before.time))
                               .arg(before.row)
                               .arg(FindingTimeShort(after.time))
                               .arg(after.row)});
        }
    }

    if (downloadedAt.isValid() && n > 0) {
        const double limit = static_cast<double>(WallAsUtc(downloadedAt).toSecsSinceEpoch()) +
                             rules.clockAheadHours * 3600.0;
        // Points are in time order: the late ones are at the end.
        const auto first = std::upper_bound(series.time.begin(), series.time.end(), limit);
        if (first != series.time.end()) {
            const auto count = series.time.end() - first;
            out.push_back(
                {channel, FindingKind::ClockJump, static_cast<qint64>(*first),
                 static_cast<qint64>(series.time.back()), QString(),
                 QStringLiteral("Записей со временем позже снятия архива (%1): %2, "
                                "с %3 по %4; часы регулятора ушли вперёд.")
                     .arg(FindingTimeShort(WallAsUtc(downloadedAt).toSecsSinceEpoch()))
                     .arg(count)
                     .arg(FindingTimeShort(*first), FindingTimeShort(series.time.back()))});
        }
    }
    return out;
}
