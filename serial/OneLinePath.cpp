#include "OneLinePath.h"

QString OneLinePath(const QString& path) {
    QString line;
    line.reserve(path.size());
    for (const QChar c : path) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u != 0x7F && c.category() != QChar::Separator_Line &&
            c.category() != QChar::Separator_Paragraph && u != 0x85) {
            line += c;
            continue;
        }
        switch (u) {
        case u'\n':
            line += QStringLiteral("\\n");
            break;
        case u'\r':
            line += QStringLiteral("\\r");
            break;
        case u'\t':
            line += QStringLiteral("\\t");
            break;
        default:
            // Line and paragraph separators and the next-line character end a line for some
            // readers too.
            line += u > 0xFF ? QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'))
                             : QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        }
    }
    return line;
}

QString ShownName(QStringView name) {
    if (name.size() <= kShownNameChars)
        return OneLinePath(name.toString());
    qsizetype cut = kShownNameChars;
    // Never half of a character written as two UTF-16 units.
    if (name[cut - 1].isHighSurrogate())
        --cut;
    return OneLinePath(name.left(cut).toString()) + QStringLiteral("…");
}
