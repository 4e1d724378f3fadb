// OpenRegularFile on Windows: the caller has made sure it is a file; opening one never waits.

#include "RegularFile.h"

QString OpenRegularFile(const QString& path, QFile& file, const QString&) {
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("файл не читается: %1").arg(file.errorString());
    return {};
}
