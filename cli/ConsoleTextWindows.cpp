#include "ConsoleText.h"

#include <windows.h>

namespace {

// The console of the command prompt that started the program, once attached; null when there
// is none (started from the desktop).
HANDLE ParentConsole() {
    static const HANDLE console = [] {
        if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
            return HANDLE(nullptr);
        const HANDLE h = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        return h == INVALID_HANDLE_VALUE ? HANDLE(nullptr) : h;
    }();
    return console;
}

} // namespace

void WriteConsoleText(std::FILE* stream, const QString& text) {
    HANDLE h = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (h == nullptr || h == INVALID_HANDLE_VALUE)
        h = ParentConsole();
    DWORD mode = 0;
    if (h != nullptr && GetConsoleMode(h, &mode)) {
        // A console shows any letter written as UTF-16, whatever its code page.
        DWORD written = 0;
        WriteConsoleW(h, text.utf16(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    if (h != nullptr && qEnvironmentVariable("KV9000_OUTPUT_UTF8") == QLatin1String("1")) {
        // Started by the console launcher kv9000.com, which relays UTF-8.
        const QByteArray bytes = text.toUtf8();
        DWORD written = 0;
        WriteFile(h, bytes.constData(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        return;
    }
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

bool IsConsoleTerminal(std::FILE*) {
    return false;
}
