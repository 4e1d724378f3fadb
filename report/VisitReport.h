#pragma once

// The visit report: an A4 PDF/A-1b document in Russian for the customer and the office. It holds
// the controller, the download, the period each channel covers, the days since the previous visit
// and the days lost to overwriting, per temperature the minimum and maximum with their times, the
// mean and the missing count, the findings newest first, the settings blocks with what changed
// since the previous visit marked, the identity changes of this controller from the journal, and
// the time chart and heating curve of each channel. An archive without a record that has a valid
// date and time gives a report that says so, without statistics or charts.
//
// How the report (report/) reports a failure: as the cause in plain Russian words, naming the
// file or folder, an empty text meaning success (WriteVisitReport); a function that also gives a
// value returns a result struct with the value and that cause (VisitArchivesRead). The command
// line gets it as one "kv9000: ..." line on standard error and exit code 1 (CommandAnswer). What
// the report cannot tell (no previous visit to compare, an unreadable journal, findings not
// judged, a chart not drawn) is said on its page, never left out as if there were nothing.
// Nothing throws out of report/.

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
// series (a channel without an entry gets a line saying its chart was not drawn). Safe on any
// thread. Returns the cause of a failure in words for the user, naming the folder, or an empty
// text.
QString WriteVisitReport(const VisitReportInput& input, const std::vector<ChannelPictures>& charts,
                         const QString& pdfPath, const ReportProgress& progress = {});
