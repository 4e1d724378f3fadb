// The findings measured on simulated archives: the share of planted faults found with the right
// kind, channel, sensor and an overlapping span (target >= 95 %), the findings on clean archives
// (target <= 1 on twenty), and the time to find everything in a full two-channel archive
// (target <= 50 ms).

#include "Findings.h"
#include "FindingsTsv.h"
#include "SimArchive.h"
#include "SimPlantedFaults.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

namespace {

using sim::PlantedFault;
using sim::PlantedKind;

struct Plan {
    PlantedKind planted;
    FindingKind expected;
    const char* name;
};

const Plan kPlans[] = {
    {PlantedKind::SensorDrop, FindingKind::SensorMissing, "sensor-drop"},
    {PlantedKind::SensorStick, FindingKind::SensorStuck, "sensor-stick"},
    {PlantedKind::ReturnAbove, FindingKind::ReturnAboveSupply, "return-above"},
    {PlantedKind::OffCurve, FindingKind::OffCurve, "off-curve"},
    {PlantedKind::LogGap, FindingKind::LogGap, "log-gap"},
    {PlantedKind::ClockBack, FindingKind::ClockJump, "clock-back"},
    {PlantedKind::RelayCycle, FindingKind::RelayCycling, "relay-cycle"},
};
constexpr int kPerKind = 6;
const char* const kSensorNames[9] = {"Тпод",  "Тобр",  "Тп1",  "Тп2",  "Тп",
                                     "Тнар.", "Тграф", "Туст", "Ттреб"};

// The i-th planting of a kind: channels alternate, starts spread over the archive's two and a
// half months, lengths and sensors vary.
PlantedFault PlantingFor(PlantedKind kind, int i) {
    static const int dropSensors[kPerKind] = {5, 0, 1, 2, 4, 6};
    static const int stickSensors[kPerKind] = {2, 3, 5, 1, 4, 0};
    static const int relays[kPerKind] = {1, 4, 5, 6, 7, 8};
    PlantedFault f;
    f.kind = kind;
    f.channel = 1 + i % 2;
    f.start = QDateTime(QDate(2023, 10, 25), QTime(3, 0), Qt::UTC)
                  .addSecs(i * (11 * 86400 + 5 * 3600 + 1800));
    switch (kind) {
    case PlantedKind::SensorDrop:
        f.hours = 3 + i * 4;
        f.sensor = dropSensors[i];
        break;
    case PlantedKind::SensorStick:
        f.hours = 26 + i * 6;
        f.sensor = stickSensors[i];
        break;
    case PlantedKind::ReturnAbove:
        f.hours = 2.5 + i;
        break;
    case PlantedKind::OffCurve:
        f.hours = 4 + i * 3;
        break;
    case PlantedKind::LogGap:
        f.hours = 2 + i * 5;
        break;
    case PlantedKind::ClockBack:
        f.hours = 2 + i * 3;
        break;
    case PlantedKind::RelayCycle:
        f.hours = 26 + i * 8;
        f.relay = relays[i];
        break;
    }
    return f;
}

QString ExpectedSensor(const PlantedFault& f) {
    switch (f.kind) {
    case PlantedKind::SensorDrop:
    case PlantedKind::SensorStick:
        return QString::fromUtf8(kSensorNames[f.sensor]);
    case PlantedKind::ReturnAbove:
        return QStringLiteral("Тобр");
    case PlantedKind::OffCurve:
        return QStringLiteral("Тпод");
    case PlantedKind::RelayCycle:
        return QStringLiteral("Р%1").arg(f.relay);
    default:
        return {};
    }
}

FindingsInput Input(QByteArray image) {
    FindingsInput in;
    in.image = std::move(image);
    in.channelCount = 2;
    in.downloadedAt = QDateTime(QDate(2024, 1, 20), QTime(12, 0), Qt::OffsetFromUTC, 3 * 3600);
    return in;
}

} // namespace

int main() {
    // Planted faults, one per archive so that each is judged alone.
    int planted = 0, found = 0, extra = 0;
    std::map<std::string, std::pair<int, int>> perKind;
    for (const Plan& plan : kPlans)
        for (int i = 0; i < kPerKind; ++i) {
            const PlantedFault f = PlantingFor(plan.planted, i);
            QByteArray image = sim::GenerateArchive(2, 100 + planted, true);
            sim::PlantFaults(image, 2, {f});
            const auto findings = FindFindings(Input(image)).findings;
            const qint64 length = static_cast<qint64>(f.hours * 3600);
            const qint64 from =
                f.start.toSecsSinceEpoch() - (f.kind == PlantedKind::ClockBack ? length : 0);
            const qint64 to = from + length;
            const QString sensor = ExpectedSensor(f);
            bool hit = false;
            for (const Finding& x : findings) {
                const bool match = x.kind == plan.expected && x.channel == f.channel &&
                                   x.from <= to && x.to >= from && x.sensor == sensor;
                hit = hit || match;
                extra += match ? 0 : 1;
            }
            ++planted;
            found += hit ? 1 : 0;
            auto& [kindFound, kindPlanted] = perKind[plan.name];
            kindFound += hit ? 1 : 0;
            ++kindPlanted;
            if (!hit)
                std::printf("missed %s #%d (channel %d, %s, %.1f h):\n%s", plan.name, i, f.channel,
                            qPrintable(f.start.toString(Qt::ISODate)), f.hours,
                            qPrintable(FindingsTsv(findings)));
        }
    for (const auto& [name, counts] : perKind)
        std::printf("  %-13s found %d of %d\n", name.c_str(), counts.first, counts.second);
    std::printf("planted faults found with kind, channel, sensor and overlapping span: %d of %d "
                "(%.1f %%, target >= 95 %%); other findings in those archives: %d\n",
                found, planted, 100.0 * found / planted, extra);

    // Clean archives: twenty two-channel controllers of about 85 days each.
    int cleanFindings = 0;
    double days = 0;
    for (int seed = 1; seed <= 20; ++seed) {
        const QByteArray image = sim::GenerateArchive(2, 5000 + seed, true);
        const auto series = ExtractChartSeries(image, 2);
        for (const ChannelSeries& s : series)
            days += (s.time.back() - s.time.front()) / 86400.0;
        const auto findings = FindFindings(Input(image), series).findings;
        cleanFindings += static_cast<int>(findings.size());
        if (!findings.empty())
            std::printf("clean archive %d:\n%s", seed, qPrintable(FindingsTsv(findings)));
    }
    std::printf("findings on 20 clean two-channel archives (%.0f channel-days, %.0f "
                "channel-months): %d (target <= 1)\n",
                days, days / 30.4, cleanFindings);

    // Time of a full two-channel archive, series extraction included.
    const FindingsInput full = Input(sim::GenerateArchive(2));
    std::vector<double> ms;
    std::size_t count = 0;
    for (int run = 0; run < 30; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        count = FindFindings(full).findings.size();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("findings of a full two-channel archive (%zu found), 30 runs: min %.2f ms, median "
                "%.2f ms, max %.2f ms (target <= 50 ms)\n",
                count, ms.front(), ms[ms.size() / 2], ms.back());
    return 0;
}
