#include "RecentArchives.h"

#include "SettingsFile.h"

#include <QFileInfo>

namespace {

const QString kRecent = QStringLiteral("Recent");

QString Key(int index) {
    return QStringLiteral("File%1").arg(index + 1);
}

} // namespace

QStringList ReadRecentArchives(const SettingsFile& settings) {
    QStringList list;
    for (int i = 0; i < RecentArchiveLimit; ++i) {
        const QString path = settings.ReadString(kRecent, Key(i), QString());
        if (!path.isEmpty() && QFileInfo(path).isFile() && !list.contains(path))
            list << path;
    }
    return list;
}

void AddRecentArchive(SettingsFile& settings, const QString& path) {
    const QString added = QFileInfo(path).absoluteFilePath();
    QStringList list = ReadRecentArchives(settings);
    list.removeAll(added);
    list.prepend(added);
    settings.EraseSection(kRecent);
    for (int i = 0; i < std::min<int>(list.size(), RecentArchiveLimit); ++i)
        settings.WriteString(kRecent, Key(i), list[i]);
}
