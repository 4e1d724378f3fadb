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
    const VisitArchivesRead read = ReadVisitArchives(path);
    if (!read.visit)
        return Failure(path, read.error);
    const VisitArchives& visit = *read.visit;
    const FindingsResult found = FindFindings(FindingsInputOf(visit, settingsHeadings));
    if (!found.notJudged.isEmpty())
        return Failure(path, QStringLiteral("архив не проверен на находки: ") + found.notJudged);
    return {0, FindingsTsv(found.findings), {}};
}

CommandAnswer ReportCommand(const QString& path, const QString& pdfPath,
                            const QStringList& settingsHeadings, const QString& journalPath) {
    const VisitArchivesRead read = ReadVisitArchives(path);
    if (!read.visit)
        return Failure(path, read.error);
    const VisitArchives& visit = *read.visit;
    VisitReportInput input{visit, journalPath, settingsHeadings, QDateTime::currentDateTime()};
    const auto charts =
        DrawReportCharts(ExtractChartSeries(visit.current.image, visit.current.channelCount));
    const QString error = WriteVisitReport(input, charts, pdfPath);
    if (!error.isEmpty())
        return {1, {}, QStringLiteral("kv9000: %1\n").arg(error)};
    return {0, QDir::toNativeSeparators(pdfPath) + u'\n', {}};
}
