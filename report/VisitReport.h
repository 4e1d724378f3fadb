#pragma once

// The visit report: an A4 PDF/A-1b document in Russian for the customer and the office. It holds
// the controller, the download, the period each channel covers, the days since the previous visit
// and the days lost to overwriting, per temperature the minimum and maximum with their times, the
// mean and the missing count, the findings newest first, the settings blocks with what changed
// since the previous visit marked, the identity changes of this controller from the journal, and
// the time chart and heating curve of each channel. An archive without a record that has a valid
// date and time gives a report that says so, without statistics or charts.

#include "ReportCharts.h"
#include "VisitArchives.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

struct VisitReportInput {
    VisitArchives visit;
    QString journalPath;          // the journal of identity changes; empty: none kept
    QStringList settingsHeadings; // the settings grids' headings
    QDateTime madeAt;             // when the report is made (shown on its first page)
};

// Called with 0..100 as the report is written.
using ReportProgress = std::function<void(int percent)>;

// Writes the report to pdfPath atomically: the file appears only when it is whole, and a failure
// leaves nothing behind (and an earlier file whole). charts are DrawReportCharts of the archive's
// series (fewer entries: those channels without charts). Safe on any thread. Returns the cause of
// a failure in words for the user, naming the folder, or an empty text.
QString WriteVisitReport(const VisitReportInput& input, const std::vector<ChannelPictures>& charts,
                         const QString& pdfPath, const ReportProgress& progress = {});
