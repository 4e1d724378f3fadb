#include "ArchiveComparison.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

QString DescribeController(const ArchiveFileContents& archive, const QString& path) {
    QStringList parts;
    if (!archive.identification.isEmpty())
        parts << archive.identification;
    if (archive.serial)
        parts << QStringLiteral("серийный номер %1").arg(*archive.serial);
    if (parts.isEmpty() && !path.isEmpty())
        parts << QFileInfo(path).fileName();
    return parts.isEmpty() ? QStringLiteral("регулятор неизвестен")
                           : parts.join(QStringLiteral(", "));
}

QString ComparisonRefusal(const ArchiveFileContents& shown, const ArchiveFileContents& other) {
    if (other.channelCount != shown.channelCount)
        return QStringLiteral("Архив для сравнения снят с регулятора с другим числом каналов "
                              "(%1 вместо %2).")
            .arg(other.channelCount)
            .arg(shown.channelCount);
    if (other.serial && shown.serial && *other.serial != *shown.serial)
        return QStringLiteral("Архив для сравнения снят с другого регулятора (серийный номер %1 "
                              "вместо %2).")
            .arg(*other.serial)
            .arg(*shown.serial);
    return {};
}

QString PreviousArchiveFile(const QString& folder, const QString& shownPath,
                            const QDateTime& shownDownloadedAt) {
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return {};
    const QStringList names =
        dir.entryList({QStringLiteral("*.kvarc")}, QDir::Files | QDir::Readable, QDir::Name);
    QString before = QFileInfo(shownPath).fileName();
    if (before.isEmpty() && shownDownloadedAt.isValid())
        before = shownDownloadedAt.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    for (qsizetype i = names.size() - 1; i >= 0; --i)
        if (before.isEmpty() || names[i] < before)
            return dir.absoluteFilePath(names[i]);
    return {};
}
