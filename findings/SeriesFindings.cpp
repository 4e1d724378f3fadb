// The findings that follow from one channel's points in time order.

#include "Findings.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

constexpr double kHour = 3600.0;

// The measured temperatures; the set values ("Тграф", "Туст", "Ттреб") may rest for days.
constexpr ChartField kMeasured[] = {ChartField::Supply, ChartField::Return, ChartField::Room1,
                                    ChartField::Room2,  ChartField::Room,   ChartField::Outdoor};
constexpr int kRelayBits = 8;

struct Run {
    std::size_t first, last; // point indices, inclusive
};

class Scanner {
public:
    Scanner(const ChannelSeries& s, const FindingRules& rules) : s_(s) {
        // Without a learned interval (a single point), a record stands for nothing longer.
        interval_ = s.logInterval;
        const std::size_t n = s.time.size();
        gapBefore_.assign(n, false);
        for (std::size_t i = 1; i < n; ++i)
            gapBefore_[i] =
                interval_ > 0 && s.time[i] - s.time[i - 1] > rules.gapIntervals * interval_;
    }

    double Interval() const { return interval_; }
    bool GapBefore(std::size_t i) const { return gapBefore_[i]; }

    // The stretches of consecutive points where holds(i) is true, cut at gaps in the log (what
    // happened in a gap is not known).
    std::vector<Run> Runs(const std::function<bool(std::size_t)>& holds) const {
        std::vector<Run> runs;
        const std::size_t n = s_.time.size();
        std::size_t i = 0;
        while (i < n) {
            if (!holds(i)) {
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j + 1 < n && !gapBefore_[j + 1] && holds(j + 1))
                ++j;
            runs.push_back({i, j});
            i = j + 1;
        }
        return runs;
    }

    // How long a run lasts: each record stands for one logging interval.
    double Lasting(const Run& r) const { return s_.time[r.last] - s_.time[r.first] + interval_; }

private:
    const ChannelSeries& s_;
    double interval_ = 0;
    std::vector<bool> gapBefore_;
};

Finding Make(int channel, FindingKind kind, double from, double to, const QString& sensor,
             const QString& detail) {
    return {channel, kind, static_cast<qint64>(from), static_cast<qint64>(to), sensor, detail};
}

void Missing(const ChannelSeries& s, const Scanner& scan, int channel, const FindingRules& rules,
             std::vector<Finding>& out) {
    for (int f = 0; f < ChartTemperatureCount; ++f) {
        const auto& v = s.values[f];
        const QString name = ChartFieldName(static_cast<ChartField>(f));
        for (const Run& r : scan.Runs([&](std::size_t i) { return std::isnan(v[i]); })) {
            const std::size_t count = r.last - r.first + 1;
            const bool longEnough = scan.Interval() > 0
                                        ? scan.Lasting(r) > rules.missingIntervals * scan.Interval()
                                        : count > rules.missingIntervals;
            if (!longEnough)
                continue;
            out.push_back(Make(
                channel, FindingKind::SensorMissing, s.time[r.first], s.time[r.last], name,
                QStringLiteral("Датчик %1 не отвечал (???,?) с %2 по %3, "
                               "записей без значения: %4.")
                    .arg(name, FindingTimeShort(s.time[r.first]), FindingTimeShort(s.time[r.last]))
                    .arg(count)));
        }
    }
}

// The range a field covers over points first..last (NaN counts for nothing).
double Range(const std::vector<double>& v, std::size_t first, std::size_t last) {
    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t i = first; i <= last; ++i)
        if (!std::isnan(v[i])) {
            lo = std::min(lo, v[i]);
            hi = std::max(hi, v[i]);
        }
    return hi >= lo ? hi - lo : 0.0;
}

void Stuck(const ChannelSeries& s, const Scanner& scan, int channel, const FindingRules& rules,
           std::vector<Finding>& out) {
    for (ChartField field : kMeasured) {
        const auto& v = s.Values(field);
        const QString name = ChartFieldName(field);
        // A run of equal values: each point equal to its predecessor, extended back by one.
        std::vector<Run> runs = scan.Runs([&](std::size_t i) {
            return i > 0 && !std::isnan(v[i]) && v[i] == v[i - 1] && !scan.GapBefore(i);
        });
        for (Run r : runs) {
            r.first -= 1;
            if (s.time[r.last] - s.time[r.first] < rules.stuckHours * kHour)
                continue;
            QString moved;
            for (ChartField other : kMeasured)
                if (other != field &&
                    Range(s.Values(other), r.first, r.last) >= rules.stuckOthersMoved) {
                    moved = ChartFieldName(other);
                    break;
                }
            if (moved.isEmpty())
                continue; // everything rested: the plant was idle, not the sensor stuck
            out.push_back(Make(
                channel, FindingKind::SensorStuck, s.time[r.first], s.time[r.last], name,
                QStringLiteral("Датчик %1 показывал одно и то же значение %2 °C с %3 по %4 (%5), "
                               "хотя %6 менялась.")
                    .arg(name, FindingDegrees(v[r.first]), FindingTimeShort(s.time[r.first]),
                         FindingTimeShort(s.time[r.last]),
                         FindingDuration(static_cast<qint64>(s.time[r.last] - s.time[r.first])),
                         moved)));
        }
    }
}

void ReturnAboveSupply(const ChannelSeries& s, const Scanner& scan, int channel,
                       const FindingRules& rules, std::vector<Finding>& out) {
    const auto& sup = s.Values(ChartField::Supply);
    const auto& ret = s.Values(ChartField::Return);
    const auto runs = scan.Runs([&](std::size_t i) {
        return !std::isnan(sup[i]) && !std::isnan(ret[i]) &&
               ret[i] - sup[i] > rules.returnAboveMargin;
    });
    for (const Run& r : runs) {
        if (scan.Lasting(r) < rules.returnAboveHours * kHour)
            continue;
        double most = 0;
        for (std::size_t i = r.first; i <= r.last; ++i)
            most = std::max(most, ret[i] - sup[i]);
        out.push_back(
            Make(channel, FindingKind::ReturnAboveSupply, s.time[r.first], s.time[r.last],
                 ChartFieldName(ChartField::Return),
                 QStringLiteral("Обратка (Тобр) была выше подачи (Тпод) с %1 по %2, до %3 °C.")
                     .arg(FindingTimeShort(s.time[r.first]), FindingTimeShort(s.time[r.last]),
                          FindingDegrees(most))));
    }
}

void OffCurve(const ChannelSeries& s, const Scanner& scan, int channel, const FindingRules& rules,
              std::vector<Finding>& out) {
    const auto& sup = s.Values(ChartField::Supply);
    const auto& curve = s.Values(ChartField::Curve);
    // Below and above the curve are separate stretches: they have separate causes.
    for (int sign : {-1, 1}) {
        const auto runs = scan.Runs([&](std::size_t i) {
            return !std::isnan(sup[i]) && !std::isnan(curve[i]) &&
                   sign * (sup[i] - curve[i]) > rules.offCurveDegrees;
        });
        for (const Run& r : runs) {
            if (scan.Lasting(r) < rules.offCurveHours * kHour)
                continue;
            double most = 0;
            for (std::size_t i = r.first; i <= r.last; ++i)
                most = std::max(most, sign * (sup[i] - curve[i]));
            out.push_back(Make(
                channel, FindingKind::OffCurve, s.time[r.first], s.time[r.last],
                ChartFieldName(ChartField::Supply),
                QStringLiteral("Подача (Тпод) была %1 графика (Тграф) более чем на %2 °C с %3 по "
                               "%4, наибольшее отклонение %5 °C.")
                    .arg(sign < 0 ? QStringLiteral("ниже") : QStringLiteral("выше"),
                         FindingDegrees(rules.offCurveDegrees), FindingTimeShort(s.time[r.first]),
                         FindingTimeShort(s.time[r.last]), FindingDegrees(most))));
        }
    }
}

void LogGaps(const ChannelSeries& s, const Scanner& scan, int channel, std::vector<Finding>& out) {
    for (std::size_t i = 1; i < s.time.size(); ++i) {
        if (!scan.GapBefore(i))
            continue;
        const double missing = std::round((s.time[i] - s.time[i - 1]) / scan.Interval()) - 1;
        out.push_back(
            Make(channel, FindingKind::LogGap, s.time[i - 1], s.time[i], QString(),
                 QStringLiteral("В журнале нет записей между %1 и %2 (%3, около %4 записей).")
                     .arg(FindingTimeShort(s.time[i - 1]), FindingTimeShort(s.time[i]),
                          FindingDuration(static_cast<qint64>(s.time[i] - s.time[i - 1])))
                     .arg(missing)));
    }
}

void RelayCycling(const ChannelSeries& s, const Scanner& scan, int channel,
                  const FindingRules& rules, std::vector<Finding>& out) {
    // Pairs of neighbouring records (never across a gap): pair k is points k and k + 1.
    const std::size_t n = s.time.size();
    if (n < 2 || scan.Interval() <= 0)
        return;
    const auto& relay = s.Values(ChartField::Relay);
    const double window = rules.relayWindowHours * kHour;
    for (int bit = 0; bit < kRelayBits; ++bit) {
        auto on = [&](std::size_t i) { return (static_cast<int>(relay[i]) >> bit) & 1; };
        // changes[k], pairs[k]: prefix counts over the pairs before point k.
        std::vector<int> changes(n, 0), pairs(n, 0);
        for (std::size_t i = 1; i < n; ++i) {
            const bool pair = !scan.GapBefore(i);
            pairs[i] = pairs[i - 1] + (pair ? 1 : 0);
            changes[i] = changes[i - 1] + (pair && on(i) != on(i - 1) ? 1 : 0);
        }
        // A window from point i to the last point within the window's length must cover nearly
        // all of it; every point of a window that changes at its share is marked.
        std::vector<int> mark(n + 1, 0);
        std::size_t j = 0;
        for (std::size_t i = 0; i < n; ++i) {
            j = std::max(j, i);
            while (j + 1 < n && s.time[j + 1] - s.time[i] <= window)
                ++j;
            if (s.time[j] - s.time[i] < window - 2 * scan.Interval())
                continue; // the archive ends (or a gap opens) before a whole window
            const int p = pairs[j] - pairs[i], c = changes[j] - changes[i];
            if (p > 0 && c >= rules.relayChangeShare * p &&
                p >= 0.5 * (s.time[j] - s.time[i]) / scan.Interval()) {
                mark[i] += 1;
                mark[j + 1] -= 1;
            }
        }
        int depth = 0;
        std::vector<bool> marked(n, false);
        for (std::size_t i = 0; i < n; ++i) {
            depth += mark[i];
            marked[i] = depth > 0;
        }
        for (const Run& r : scan.Runs([&](std::size_t i) { return marked[i]; })) {
            const int p = pairs[r.last] - pairs[r.first], c = changes[r.last] - changes[r.first];
            const QString name = QStringLiteral("Р%1").arg(bit + 1);
            out.push_back(Make(
                channel, FindingKind::RelayCycling, s.time[r.first], s.time[r.last], name,
                QStringLiteral("Реле %1 переключалось почти в каждой записи с %2 по %3: %4 "
                               "переключений на %5 записей.")
                    .arg(name, FindingTimeShort(s.time[r.first]), FindingTimeShort(s.time[r.last]))
                    .arg(c)
                    .arg(p + 1)));
        }
    }
}

} // namespace

std::vector<Finding> SeriesFindings(const ChannelSeries& series, int channel,
                                    const FindingRules& rules) {
    std::vector<Finding> out;
    if (series.Empty())
        return out;
    const Scanner scan(series, rules);
    Missing(series, scan, channel, rules, out);
    Stuck(series, scan, channel, rules, out);
    ReturnAboveSupply(series, scan, channel, rules, out);
    OffCurve(series, scan, channel, rules, out);
    LogGaps(series, scan, channel, out);
    RelayCycling(series, scan, channel, rules, out);
    return out;
}
