#include "WorkbookFileName.h"

#include <QFile>

QByteArray WorkbookFileName(const QString& path) {
    return QFile::encodeName(path);
}
