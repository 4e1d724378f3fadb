#include "TextExport.h"

#include "Cp1251.h"
#include "ExportError.h"
#include "TextGrid.h"

#include <QSaveFile>
#include <QStringList>

namespace {

const QString kLineEnd = QStringLiteral("\r\n");

void AppendLine(QString& out, const QString& line) {
    out += line;
    out += kLineEnd;
}

void AppendGrid(QString& out, const TextGrid* grid) {
    if (!grid)
        return;
    const int cols = grid->ColCount();
    for (int row = 0; row < grid->RowCount(); ++row) {
        // A blank row is an erased or never written record; later rows may still hold records.
        if (grid->Cell(0, row).isEmpty())
            continue;
        for (int col = 0; col < cols; ++col) {
            out += grid->Cell(col, row);
            out += QLatin1Char('\t');
        }
        out += kLineEnd;
    }
}

} // namespace

QByteArray BuildTextExport(const ExportSource& source) {
    QString text;
    AppendLine(text, source.headings.identification);
    AppendLine(text, source.headings.serialLine);
    AppendLine(text, source.headings.placeLine);
    AppendLine(text, QString());
    AppendLine(text, QStringLiteral("Канал 1: настройки"));
    AppendGrid(text, source.grid2);
    AppendLine(text, QString());
    AppendLine(text, QStringLiteral("Канал 1: данные"));
    AppendGrid(text, source.grid1);
    AppendLine(text, QString());
    if (source.channelCount == 2) {
        AppendLine(text, QStringLiteral("Канал 2: настройки"));
        AppendGrid(text, source.grid4);
        AppendLine(text, QString());
        AppendLine(text, QStringLiteral("Канал 2: данные"));
        AppendGrid(text, source.grid3);
    }
    return ToCp1251(text);
}

void WriteTextFile(const QString& path, const QByteArray& bytes) {
    // The bytes go to a temporary file beside the target, which replaces the target only after
    // the last byte is written and flushed.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw ExportError(QStringLiteral("Cannot create file %1").arg(path));
    // flush() before commit(): a commit whose own flush fails (a full disk) still replaces the
    // target, with an empty file.
    if (file.write(bytes) != bytes.size() || !file.flush() || !file.commit()) {
        file.cancelWriting();
        throw ExportError(QStringLiteral("Stream write error"));
    }
}
