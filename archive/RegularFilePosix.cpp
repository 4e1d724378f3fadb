// OpenRegularFile on POSIX systems: a non-blocking open, then fstat on what was opened, so that a
// file swapped for a pipe since it was looked at does not hang the open.

#include "RegularFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString OpenRegularFile(const QString& path, QFile& file, const QString& notRegular) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("файл не читается: %1")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return notRegular;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QStringLiteral("файл не читается: %1").arg(file.errorString());
    }
    return {};
}
