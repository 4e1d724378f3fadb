#include "RecentArchives.h"

#include "SettingsFile.h"

#include <QFileInfo>

namespace {

const QString kRecent = QStringLiteral("Recent");

QString Key(int index) {
    return QStringLiteral("File%1").arg(index + 1);
}

// A path is stored as its UTF-8 bytes, percent-encoded but for letters, digits and "-._~/": the
// value is plain ASCII, so a line break, "[" or "=" in a file name cannot start another key or
// section, and a letter outside Windows-1251 ("Zoë") survives the settings file's encoding.
QString Encoded(const QString& path) {
    return QString::fromLatin1(path.toUtf8().toPercentEncoding("/"));
}

// Entries written before paths were encoded hold the path itself in Windows-1251: it reads back
// as it was unless it holds "%" followed by two hexadecimal digits.
QString Decoded(const QString& value) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(value.toUtf8()));
}

} // namespace

QStringList ReadRecentArchives(const SettingsFile& settings) {
    QStringList list;
    for (int i = 0; i < RecentArchiveLimit; ++i) {
        const QString path = Decoded(settings.ReadString(kRecent, Key(i), QString()));
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
        settings.WriteString(kRecent, Key(i), Encoded(list[i]));
}
