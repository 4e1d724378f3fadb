#include "Cp1251.h"

#include <windows.h>

#include <stdexcept>

// The system's own tables for the code page: the Windows build carries no codec of its own.

namespace {

constexpr UINT kCodePage = 1251;

void Require() {
    static const bool available = IsValidCodePage(kCodePage) != 0;
    if (!available)
        throw std::runtime_error("The Windows-1251 code page is not installed on this system");
}

} // namespace

void RequireCp1251() {
    Require();
}

QString FromCp1251(QByteArrayView bytes) {
    Require();
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
    Require();
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
