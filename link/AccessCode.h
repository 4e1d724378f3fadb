#pragma once

// The access code that unlocks the serial number field. Only its scrambled form is kept.

#include <QByteArray>
#include <QString>

// Each byte at index i becomes (byte + 2 * i) mod 256.
QByteArray ScrambleAccessCode(const QByteArray& text);

// Whether the typed text (taken as Windows-1251 bytes) is the access code: its scrambled form
// equals the stored one byte for byte, length included.
bool IsAccessCode(const QString& typed);
