#pragma once

// The Windows-1251 code page: the controller's texts, the settings file and the text export are
// bytes in it. The one place that converts between it and Unicode; nothing else in the program
// looks for a codec of its own.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Checks once, at start-up, that the code page can be converted. Throws std::runtime_error with
// a message naming what is missing when it cannot.
void RequireCp1251();

// The bytes as Unicode text. Throws std::runtime_error when the code page is missing.
QString FromCp1251(QByteArrayView bytes);

// The text as Windows-1251 bytes; a character the code page lacks becomes '?'. Throws
// std::runtime_error when the code page is missing.
QByteArray ToCp1251(const QString& text);
