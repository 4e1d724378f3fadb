// SyncToDisk on Windows: the C runtime's _commit.

#include "FileSync.h"

#include <QFileDevice>

#include <cerrno>
#include <cstring>

#include <io.h>

QString SyncToDisk(QFileDevice& file) {
    if (!file.flush())
        return file.errorString();
    if (::_commit(file.handle()) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}
