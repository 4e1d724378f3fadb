#include "VisitGaps.h"

#include "RecordsOverwritten.h"

#include <algorithm>
#include <tuple>

std::map<qint64, qint64> LostSecondsPerVisit(std::vector<VisitSpan> spans) {
    std::erase_if(spans, [](const VisitSpan& s) { return !s.oldest || !s.newest; });
    std::sort(spans.begin(), spans.end(), [](const VisitSpan& a, const VisitSpan& b) {
        return std::tie(a.channel, a.downloadedMs, a.visit) <
               std::tie(b.channel, b.downloadedMs, b.visit);
    });
    std::map<qint64, qint64> lost;
    // The newest record any earlier visit read: a visit whose clock was set back does not make
    // the next one look late.
    qint64 readUpTo = 0;
    qint64 previousInterval = 0;
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const VisitSpan& visit = spans[i];
        if (i > 0 && spans[i - 1].channel == visit.channel) {
            const qint64 interval = visit.interval > 0 ? visit.interval : previousInterval;
            const qint64 gap = SecondsOverwritten(readUpTo, *visit.oldest, interval);
            if (gap > 0)
                lost[visit.visit] = std::max(lost[visit.visit], gap);
            readUpTo = std::max(readUpTo, *visit.newest);
        } else {
            readUpTo = *visit.newest;
        }
        previousInterval = visit.interval;
    }
    return lost;
}
