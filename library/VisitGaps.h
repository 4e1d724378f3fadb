#pragma once

// Records overwritten before anyone read them. The controller's memory is a ring: a visit that
// comes too late finds its oldest record newer than the previous visit's newest one, and what was
// logged in between is gone. The stretch lost before a visit is SecondsOverwritten's answer (the
// gap less one logging interval), the same figure the visit report shows.

#include <QtGlobal>

#include <map>
#include <optional>
#include <vector>

struct VisitSpan {
    qint64 visit = 0;        // the visit's id
    qint64 downloadedMs = 0; // when it was downloaded: visits follow one another in this order
    int channel = 1;
    std::optional<qint64> oldest,
        newest;          // record times, seconds; none for a channel without records
    qint64 interval = 0; // the logging interval learned from its records (0: unknown)
};

// Per visit, the seconds of records lost before it: per channel the gap between the newest
// record of the visit downloaded before it (on that channel, with records) and its own oldest
// record, beyond one logging interval (this visit's, else the previous one's); the largest over
// the channels. The first visit of a channel has lost nothing (nothing is known before it).
// Visits without any loss are absent from the result.
std::map<qint64, qint64> LostSecondsPerVisit(std::vector<VisitSpan> spans);
