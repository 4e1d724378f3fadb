// SyncToDisk on POSIX systems: fsync.

#include "FileSync.h"

#include <QFileDevice>

#include <cerrno>
#include <cstring>

#include <unistd.h>

QString SyncToDisk(QFileDevice& file) {
    if (!file.flush())
        return file.errorString();
    if (::fsync(file.handle()) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}
