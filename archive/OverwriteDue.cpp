#include "OverwriteDue.h"

#include "ArchiveGeometry.h"
#include "ChartSeries.h"

#include <algorithm>

namespace {

bool Erased(const char* record) {
    return std::all_of(record, record + ArchiveRecordSize,
                       [](char b) { return static_cast<unsigned char>(b) == 0xFF; });
}

// Erased records right after slot in ring order; 0 when the run is longer than a sector.
int ErasedAhead(const char* block, int recordCount, int slot) {
    int run = 0;
    while (run < recordCount - 1 &&
           Erased(block +
                  static_cast<std::ptrdiff_t>((slot + run + 1) % recordCount) * ArchiveRecordSize))
        ++run;
    return run > ErasedRunLimit ? 0 : run;
}

} // namespace

std::optional<qint64> OverwriteFrom(const QByteArray& image, int channelCount) {
    const ArchiveGeometry geometry = GeometryFor(channelCount);
    if (geometry.recordCount == 0 || image.size() < ArchiveSize)
        return std::nullopt;
    const std::vector<ChannelSeries> series = ExtractChartSeries(image, channelCount);
    std::optional<qint64> first;
    for (std::size_t ch = 0; ch < series.size(); ++ch) {
        const ChannelSeries& s = series[ch];
        const auto interval = static_cast<qint64>(s.logInterval);
        if (s.Empty() || interval <= 0)
            continue;
        // The newest record by time; its slot is where the controller wrote last.
        const auto newest = static_cast<qint64>(s.time.back());
        const int slot = s.row.back() - 1;
        const char* block =
            image.constData() + static_cast<std::ptrdiff_t>(ch) * geometry.channelBlockSize;
        const qint64 from =
            newest +
            (geometry.recordCount - ErasedAhead(block, geometry.recordCount, slot)) * interval;
        first = first ? std::min(*first, from) : from;
    }
    return first;
}

double DaysUntil(qint64 overwriteFrom, qint64 asOf) {
    return static_cast<double>(overwriteFrom - asOf) / 86400.0;
}
