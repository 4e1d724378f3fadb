#include "HeadingLines.h"

HeadingLines MakeHeadingLines(const QString& identification, const QString& serialLabel, int serial,
                              const QString& commentLabel, const QString& comment) {
    HeadingLines lines;
    lines.identification = identification;
    // QString::number never groups digits, whatever the locale.
    lines.serialLine = serialLabel + QLatin1Char(' ') + QString::number(serial);
    lines.placeLine = commentLabel + QLatin1Char(' ') + comment;
    return lines;
}
