#pragma once

// Records the controller's ring wrote over before anyone read them: the one answer to "how much
// was lost before this download", asked by the library's histories and by the visit report.
//
// The download before read up to its newest record, logged at previousNewest; the next record was
// due one logging interval later. What was logged from then until just before this download's
// oldest record is gone: the gap less one interval. Counting the whole gap would report one
// interval lost between two downloads that follow on without a hole.

#include <QtGlobal>

// Seconds of records lost between the newest record read before (previousNewest) and the oldest
// record of this download (oldest), records being logged every interval seconds; 0 when nothing
// is lost (the downloads overlap, or the clock was set back). An interval not known (0 or less)
// counts the whole gap.
qint64 SecondsOverwritten(qint64 previousNewest, qint64 oldest, qint64 interval);
