#include "WorkbookFileName.h"

QByteArray WorkbookFileName(const QString& path) {
    return path.toUtf8();
}
