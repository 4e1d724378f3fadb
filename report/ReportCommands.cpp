#include "ReportCommands.h"

#include "FindingsTsv.h"
#include "VisitReport.h"

#include <QDir>

namespace {

CommandAnswer Failure(const QString& path, const QString& cause) {
    return {1, {}, QStringLiteral("kv9000: %1: %2\n").arg(QDir::toNativeSeparators(path), cause)};
}

} // namespace

CommandAnswer FindingsCommand(const QString& path, const QStringList& settingsHeadings) {
    QString error;
    const auto visit = ReadVisitArchives(path, error);
    if (!visit)
        return Failure(path, error);
    return {0, FindingsTsv(FindFindings(FindingsInputOf(*visit, settingsHeadings))), {}};
}

CommandAnswer ReportCommand(const QString& path, const QString& pdfPath,
                            const QStringList& settingsHeadings, const QString& journalPath) {
    QString error;
    const auto visit = ReadVisitArchives(path, error);
    if (!visit)
        return Failure(path, error);
    VisitReportInput input{*visit, journalPath, settingsHeadings, QDateTime::currentDateTime()};
    const auto charts =
        DrawReportCharts(ExtractChartSeries(visit->current.image, visit->current.channelCount));
    error = WriteVisitReport(input, charts, pdfPath);
    if (!error.isEmpty())
        return {1, {}, QStringLiteral("kv9000: %1\n").arg(error)};
    return {0, QDir::toNativeSeparators(pdfPath) + u'\n', {}};
}
