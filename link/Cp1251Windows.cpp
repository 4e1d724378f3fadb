#include "Cp1251.h"

#include "Cp1251Ascii.h"

#include <windows.h>

// The system's own tables for the code page: the Windows build carries no codec of its own.

namespace {

constexpr UINT kCodePage = 1251;

bool Available() {
    static const bool available = IsValidCodePage(kCodePage) != 0;
    return available;
}

} // namespace

std::optional<QString> Cp1251Unavailable() {
    if (Available())
        return std::nullopt;
    return QStringLiteral("The Windows-1251 code page is not installed on this system");
}

QString FromCp1251(QByteArrayView bytes) {
    if (!Available())
        return AsciiToUnicode(bytes);
    if (bytes.isEmpty())
        return {};
    const int size = static_cast<int>(bytes.size());
    QString text(size, Qt::Uninitialized); // one UTF-16 unit per byte in a single-byte code page
    const int n = MultiByteToWideChar(kCodePage, 0, bytes.data(), size,
                                      reinterpret_cast<LPWSTR>(text.data()), size);
    text.resize(n);
    return text;
}

QByteArray ToCp1251(const QString& text) {
    if (!Available())
        return UnicodeToAscii(text);
    if (text.isEmpty())
        return {};
    const int size = static_cast<int>(text.size());
    QByteArray bytes(size, Qt::Uninitialized); // at most one byte per UTF-16 unit
    // No "best fit": a character the code page lacks becomes '?', never a look-alike letter.
    const int n =
        WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, reinterpret_cast<LPCWCH>(text.utf16()),
                            size, bytes.data(), size, "?", nullptr);
    bytes.resize(n);
    return bytes;
}
