#include "ChartArchive.h"

#include <QDir>
#include <QFileInfo>

QString DescribeController(const ChartArchive& archive) {
    QStringList parts;
    if (!archive.identification.isEmpty())
        parts << archive.identification;
    if (archive.serial)
        parts << QStringLiteral("серийный номер %1").arg(*archive.serial);
    if (parts.isEmpty() && !archive.path.isEmpty())
        parts << QFileInfo(archive.path).fileName();
    return parts.isEmpty() ? QStringLiteral("регулятор неизвестен")
                           : parts.join(QStringLiteral(", "));
}

QString ComparisonRefusal(const ChartArchive& shown, const ChartArchive& other) {
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

QString PreviousArchiveFile(const QString& shownPath, const QString& folder) {
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return {};
    const QStringList names =
        dir.entryList({QStringLiteral("*.kvarc")}, QDir::Files | QDir::Readable, QDir::Name);
    if (names.isEmpty())
        return {};
    const QFileInfo shown(shownPath);
    const qsizetype at =
        shown.absoluteDir() == QDir(dir.absolutePath()) ? names.indexOf(shown.fileName()) : -1;
    if (at == 0)
        return {};
    return dir.absoluteFilePath(at > 0 ? names[at - 1] : names.last());
}
