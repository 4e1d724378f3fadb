// CanReplaceFile (SettingsLocation.h) on Windows. Access lists, not attributes, decide whether a
// folder such as Program Files can be written, and only trying tells: a file is created in the
// folder and deleted again as it is closed.

#include "SettingsLocation.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

namespace {

bool Writable(const QString& path, DWORD disposition, DWORD flags) {
    const QString native = QDir::toNativeSeparators(path);
    const HANDLE h = CreateFileW(reinterpret_cast<LPCWSTR>(native.utf16()), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

} // namespace

bool CanReplaceFile(const QString& path) {
    const QFileInfo file(path);
    const QString probe = file.absoluteDir().filePath(
        QStringLiteral(".kv9000-write-test-%1").arg(GetCurrentProcessId()));
    if (!Writable(probe, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE))
        return false;
    return !file.exists() || Writable(file.absoluteFilePath(), OPEN_EXISTING, 0);
}
