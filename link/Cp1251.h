#pragma once

// The Windows-1251 code page: the controller's texts, the settings file and the text export are
// bytes in it. The one place that converts between it and Unicode; nothing else in the program
// looks for a codec of its own. Nothing here throws.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// What is missing when the code page cannot be converted on this machine; nullopt when it can.
// Asked once, at start-up: a program that gets an answer says it and does not go on.
std::optional<QString> Cp1251Unavailable();

// The bytes as Unicode text. Without the code page only ASCII converts: every other byte becomes
// U+FFFD.
QString FromCp1251(QByteArrayView bytes);

// The text as Windows-1251 bytes; a character the code page lacks becomes '?' (without the code
// page, every character beyond ASCII).
QByteArray ToCp1251(const QString& text);
