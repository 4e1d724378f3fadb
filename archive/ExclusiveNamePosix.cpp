// MoveWithoutReplacing on POSIX systems (renameat2 without replacing, or a hard link).

#include "ExclusiveName.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

ExclusiveMove MoveWithoutReplacing(const QString& from, const QString& to, QString* error) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return ExclusiveMove::Moved;
    int code = errno;
    // A file system that cannot rename without replacing still makes hard links, which never
    // replace either.
    if (code == EINVAL || code == ENOSYS || code == ENOTSUP) {
        if (::link(source.constData(), target.constData()) == 0) {
            ::unlink(source.constData());
            return ExclusiveMove::Moved;
        }
        code = errno;
    }
    if (code == EEXIST)
        return ExclusiveMove::Taken;
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(code));
    return ExclusiveMove::Failed;
}
