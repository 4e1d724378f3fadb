#include "ExclusiveName.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Enough for any number of downloads in one second; the loop only has to end.
constexpr int kMaxSuffix = 100000;

} // namespace

ExclusiveMove MoveWithoutReplacing(const QString& from, const QString& to, QString* error) {
#ifdef Q_OS_WIN
    // Without MOVEFILE_REPLACE_EXISTING the system refuses an existing target in the same step.
    const std::wstring source = QDir::toNativeSeparators(from).toStdWString();
    const std::wstring target = QDir::toNativeSeparators(to).toStdWString();
    if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
        return ExclusiveMove::Moved;
    const DWORD code = ::GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
        return ExclusiveMove::Taken;
    if (error)
        *error = QStringLiteral("ошибка Windows %1").arg(code);
    return ExclusiveMove::Failed;
#else
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
#endif
}

QString MoveToFreeName(const QString& from, const QString& base, const QString& extension,
                       QString* error) {
    for (int n = 1; n <= kMaxSuffix; ++n) {
        const QString name =
            n == 1 ? base + extension : QStringLiteral("%1_%2%3").arg(base).arg(n).arg(extension);
        switch (MoveWithoutReplacing(from, name, error)) {
        case ExclusiveMove::Moved:
            return name;
        case ExclusiveMove::Taken:
            continue;
        case ExclusiveMove::Failed:
            return {};
        }
    }
    if (error)
        *error = QStringLiteral("все имена %1_N%2 заняты").arg(base, extension);
    return {};
}
