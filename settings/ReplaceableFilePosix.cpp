// CanReplaceFile (SettingsLocation.h) on POSIX systems: the permissions answer it.

#include "SettingsLocation.h"

#include <QFile>
#include <QFileInfo>

#include <unistd.h>

bool CanReplaceFile(const QString& path) {
    const QFileInfo file(path);
    const QByteArray dir = QFile::encodeName(file.absolutePath());
    if (::access(dir.constData(), W_OK | X_OK) != 0)
        return false;
    if (!file.exists())
        return true;
    return ::access(QFile::encodeName(file.absoluteFilePath()).constData(), W_OK) == 0;
}
