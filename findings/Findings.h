#pragma once

// The findings of an archive image, computed from the charts' series of each channel (time
// order, logging interval learned from the records) and from the image itself where the flash
// order or the settings blocks matter. No widgets, no files.
//
// How findings/ reports a failure: an archive its rules cannot judge gives no list but the cause
// in plain Russian words (FindingsResult::notJudged), so that a caller can always tell "judged,
// nothing found" (an empty list, no cause) from "not judged". Nothing throws.

#include "ChartSeries.h"
#include "Finding.h"
#include "FindingRules.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

#include <vector>

struct FindingsInput {
    QByteArray image;     // the archive image (ArchiveSize bytes; a shorter one is read as far
                          // as it goes)
    int channelCount = 0; // 1 or 2; anything else is not judged
    // When the archive was read (any time zone; its wall time is compared with the records'):
    // records later than this are a clock-jump. Invalid: not checked.
    QDateTime downloadedAt;
    // The previous visit's archive of the same controller, for settings-changed; empty: none.
    // The caller decides whether it is comparable (same controller, same channel count).
    QByteArray previousImage;
    QDateTime previousDownloadedAt; // may be invalid
    // The settings grids' headings (column 0 to 15), naming changed settings.
    QStringList settingsHeadings;
};

struct FindingsResult {
    std::vector<Finding> findings; // newest first (by the end of the span, then channel and kind)
    // Why the archive was not judged ("число каналов 3, ..."; no findings then); empty when it
    // was judged.
    QString notJudged;
};

// Every finding of the archive. series are the image's series as ExtractChartSeries gives them
// (one per channel); the overload without extracts them. A channel count other than 1 or 2, or
// series that are not one per channel, are not judged.
FindingsResult FindFindings(const FindingsInput& input, const std::vector<ChannelSeries>& series,
                            const FindingRules& rules = kFindingRules);
FindingsResult FindFindings(const FindingsInput& input, const FindingRules& rules = kFindingRules);

// The findings of one channel's series (sensor-missing, sensor-stuck, return-above-supply,
// off-curve, log-gap, relay-cycling), in no particular order.
std::vector<Finding> SeriesFindings(const ChannelSeries& series, int channel,
                                    const FindingRules& rules);

// clock-jump of one channel: its records in flash order going back in time (beyond the ring's
// one natural turn from newest to oldest), and records later than downloadedAt.
std::vector<Finding> ClockFindings(const ChannelSeries& series, int channel,
                                   const QDateTime& downloadedAt, const FindingRules& rules);

// settings-changed of one channel: each of its four settings blocks against the same block of
// the previous image.
std::vector<Finding> SettingsFindings(const FindingsInput& input, int channel);
