#pragma once

// What the chart window shows: an archive image with the identity of the controller it came
// from, and the file it was read from (empty for a download that was not kept).

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

struct ChartArchive {
    QByteArray image;
    int channelCount = 0;                // 1 or 2
    QString identification;              // empty when not known (a raw image)
    std::optional<std::uint16_t> serial; // nullopt when not known
    QString path;                        // the archive file; empty when none
    QDateTime downloadedAt;              // when it was downloaded; invalid when not known
    QString folder; // where the other archive files of this controller are kept; may be empty
};

// The window title's description of the controller: "<identification>, серийный номер <n>",
// or what is known of it.
QString DescribeController(const ChartArchive& archive);

// Why other cannot be drawn beside shown, in words for the user; empty when it can. An archive
// of another channel count, or with another serial number, is of another controller.
QString ComparisonRefusal(const ChartArchive& shown, const ChartArchive& other);

// The archive file offered first for a comparison of shown: among the archive files (*.kvarc) of
// shown.folder, whose names begin with their download's local time (2024-01-31_08-15-00.kvarc), the
// last one in name order before shown's own file, or before its download time when it has no
// file; the newest when neither is known. Empty when there is none.
QString PreviousArchiveFile(const ChartArchive& shown);
