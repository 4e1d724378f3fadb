#include "UndecodableNames.h"

#include <QFile>
#include <QStringDecoder>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// The name with every byte of an invalid UTF-8 sequence as \xHH, so that it can be printed.
QString Escaped(const QByteArray& name) {
    QString out;
    for (qsizetype i = 0; i < name.size();) {
        // The longest valid piece from i on.
        qsizetype end = name.size();
        for (; end > i; --end) {
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString piece = decoder.decode(QByteArrayView(name).sliced(i, end - i));
            if (!decoder.hasError()) {
                out += piece;
                break;
            }
        }
        if (end == i) {
            out += QStringLiteral("\\x%1").arg(static_cast<unsigned char>(name[i]), 2, 16,
                                               QLatin1Char('0'));
            end = i + 1;
        }
        i = end;
    }
    return out;
}

bool IsUtf8(const QByteArray& name) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(name); // decode() converts only when assigned
    Q_UNUSED(decoded);
    return !decoder.hasError();
}

void Collect(const QByteArray& folder, const QString& shown, QStringList& found, int depth) {
    // Deep enough for any archives folder; a loop of bind mounts must still end.
    if (depth > 64)
        return;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = folder + '/' + name;
        struct stat info {};
        if (::lstat(path.constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            // A folder whose own name is not UTF-8 hides every file in it from Qt.
            Collect(path, shown + QLatin1Char('/') + Escaped(name), found, depth + 1);
        } else if (S_ISREG(info.st_mode) && name.endsWith(".kvarc") &&
                   (!IsUtf8(name) || !IsUtf8(folder))) {
            found << shown + QLatin1Char('/') + Escaped(name);
        }
    }
    ::closedir(dir);
}

} // namespace

QStringList UndecodableArchiveNamesBelow(const QString& folder) {
    QStringList found;
    Collect(QFile::encodeName(folder), folder, found, 0);
    found.sort();
    return found;
}
