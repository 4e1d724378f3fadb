#include "ArchiveSaveName.h"

#include "ArchiveFile.h"

#include <QDir>
#include <QFileInfo>

QString ProposedArchiveSavePath(const QString& folder, const ArchiveFileContents& shown,
                                const QString& shownPath) {
    const QString extension = QStringLiteral(".kvarc");
    QString name;
    if (!shownPath.isEmpty()) {
        // "dump.bin" and "dump.kvarc" give "dump"; a name that is only an extension (".bin")
        // gives "bin", never a hidden name.
        const QFileInfo file(shownPath);
        name = file.completeBaseName();
        if (name.isEmpty())
            name = file.fileName();
        while (name.startsWith(QLatin1Char('.')))
            name.remove(0, 1);
    } else if (shown.downloadedAt.isValid()) {
        name = QFileInfo(AutoSavePath(folder, shown, {}, /*checkDisk=*/false)).completeBaseName();
    }
    if (name.isEmpty())
        name = QStringLiteral("архив");
    return QDir(folder).filePath(name + extension);
}
