#include "FileSync.h"

#include <QFileDevice>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

QString SyncToDisk(QFileDevice& file) {
    if (!file.flush())
        return file.errorString();
#ifdef Q_OS_WIN
    const int failed = ::_commit(file.handle());
#else
    const int failed = ::fsync(file.handle());
#endif
    if (failed != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return {};
}
