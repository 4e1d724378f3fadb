#pragma once

// The conversions left when the Windows-1251 code page is missing: ASCII is the same in it and
// in Unicode, and nothing else can be told.

#include <QByteArray>
#include <QByteArrayView>
#include <QChar>
#include <QString>

// Every byte beyond ASCII becomes U+FFFD.
inline QString AsciiToUnicode(QByteArrayView bytes) {
    QString text;
    text.reserve(bytes.size());
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        text.append(code < 0x80 ? QChar(code) : QChar(QChar::ReplacementCharacter));
    }
    return text;
}

// Every UTF-16 unit beyond ASCII becomes '?'.
inline QByteArray UnicodeToAscii(const QString& text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar unit : text)
        bytes.append(unit.unicode() < 0x80 ? static_cast<char>(unit.unicode()) : '?');
    return bytes;
}
