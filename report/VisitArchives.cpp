#include "VisitArchives.h"

#include "ArchiveComparison.h"

#include <QFileInfo>

void FindPreviousVisit(VisitArchives& visit, const QString& folder) {
    visit.previous.reset();
    visit.previousPath = PreviousArchiveFile(folder, visit.path, visit.current.downloadedAt);
    if (visit.previousPath.isEmpty()) {
        visit.previousNote = QStringLiteral("Прошлых посещений этого регулятора не найдено.");
        return;
    }
    const ArchiveFileReadResult read = ReadArchiveFile(visit.previousPath);
    if (!read.contents) {
        visit.previousNote = QStringLiteral("Архив прошлого посещения %1 не прочитан: %2.")
                                 .arg(QFileInfo(visit.previousPath).fileName(), read.error);
        return;
    }
    // A file without a serial number cannot be told apart from another controller's.
    if (!read.contents->serial || !visit.current.serial) {
        visit.previousNote =
            QStringLiteral("Архив %1 не сравнивается: серийный номер регулятора не известен.")
                .arg(QFileInfo(visit.previousPath).fileName());
        return;
    }
    const QString refusal = ComparisonRefusal(visit.current, *read.contents);
    if (!refusal.isEmpty()) {
        visit.previousNote = QStringLiteral("Архив %1 не сравнивается. %2")
                                 .arg(QFileInfo(visit.previousPath).fileName(), refusal);
        return;
    }
    visit.previous = read.contents;
    visit.previousNote.clear();
}

VisitArchivesRead ReadVisitArchives(const QString& path) {
    const ArchiveFileReadResult read = ReadArchiveFile(path);
    if (!read.contents)
        return {std::nullopt, read.error};
    VisitArchives visit;
    visit.current = *read.contents;
    visit.path = path;
    FindPreviousVisit(visit, QFileInfo(path).absolutePath());
    return {std::move(visit), {}};
}

FindingsInput FindingsInputOf(const VisitArchives& visit, const QStringList& settingsHeadings) {
    FindingsInput in;
    in.image = visit.current.image;
    in.channelCount = visit.current.channelCount;
    in.downloadedAt = visit.current.downloadedAt;
    if (visit.previous) {
        in.previousImage = visit.previous->image;
        in.previousDownloadedAt = visit.previous->downloadedAt;
    }
    in.settingsHeadings = settingsHeadings;
    return in;
}
