// MoveWithoutReplacing on Windows.

#include "ExclusiveName.h"

#include <QDir>

#include <string>

#include <windows.h>

ExclusiveMove MoveWithoutReplacing(const QString& from, const QString& to, QString* error) {
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
}
