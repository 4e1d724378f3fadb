#pragma once

// Grids as the window holds them, for the export tests: headings in row 0, records where the
// tests put them, generated cell texts for the full-size archives.

#include "ExportSource.h"
#include "HeadingLines.h"
#include "TextGrid.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

inline const QStringList& DataHeadingTexts() {
    static const QStringList headings = {"№",  "Дата",  "Время", "Тпод", "Тобр",  "Тп1",   "Тп2",
                                         "Тп", "Тнар.", "Тграф", "Туст", "Ттреб", "tвозд", "Реле"};
    return headings;
}

inline const QStringList& SettingsHeadingTexts() {
    static const QStringList headings = {
        "№",        "Дата",   "Время", "Режим",  "Тип рег.", "Кнак.1", "Кнак.2", "Тнач.от.",
        "Тизл.от.", "Ккорр.", "tц.",   "tпост.", "Кп",       "Ки",     "Кд",     "Защ.инт."};
    return headings;
}

// The four grids of the window in their state before any download: headings only.
// What an export reads, over four grids (StringGrid1..4 order) and the window's heading texts.
inline ExportSource SourceOf(const TextGrid& grid1, const TextGrid& grid2, const TextGrid& grid3,
                             const TextGrid& grid4, int channelCount, const QString& identification,
                             int serial, const QString& comment) {
    ExportSource source;
    source.headings = MakeHeadingLines(identification, QStringLiteral("Серийный номер:"), serial,
                                       QStringLiteral("Место установки регулятора:"), comment);
    source.channelCount = channelCount;
    source.grid1 = &grid1;
    source.grid2 = &grid2;
    source.grid3 = &grid3;
    source.grid4 = &grid4;
    return source;
}

struct WindowGrids {
    TextGrid grid1{14, 4220}; // channel 1 data
    TextGrid grid2{16, 5};    // channel 1 settings
    TextGrid grid3{14, 4220}; // channel 2 data
    TextGrid grid4{16, 5};    // channel 2 settings

    WindowGrids() {
        for (TextGrid* data : {&grid1, &grid3})
            for (int c = 0; c < 14; ++c)
                data->SetCell(c, 0, DataHeadingTexts()[c]);
        for (TextGrid* settings : {&grid2, &grid4})
            for (int c = 0; c < 16; ++c)
                settings->SetCell(c, 0, SettingsHeadingTexts()[c]);
    }

    ExportSource Source(int channelCount, const QString& identification, int serial,
                        const QString& comment) const {
        return SourceOf(grid1, grid2, grid3, grid4, channelCount, identification, serial, comment);
    }
};

// A cell text that tells channel, grid, column and row apart, in the style of the decoder's
// texts (Cyrillic, comma, minus) so that encoding faults show.
inline QString GeneratedCell(int channel, char grid, int col, int row) {
    if (col == 0)
        return QString::number(row);
    return QStringLiteral("%1%2-%3,%4к").arg(grid).arg(channel).arg(-col).arg(row);
}

// Fills every row below the headings of every grid of the channels given, the way a complete
// download of a full archive leaves them (data grids RecordCount + 1 rows).
inline void FillFullArchive(WindowGrids& grids, int channelCount) {
    const int recordCount = channelCount == 2 ? 4220 : 8444;
    struct Pair {
        TextGrid* data;
        TextGrid* settings;
    } pairs[2] = {{&grids.grid1, &grids.grid2}, {&grids.grid3, &grids.grid4}};
    for (int ch = 0; ch < channelCount; ++ch) {
        Pair p = pairs[ch];
        p.data->SetRowCount(recordCount + 1);
        for (int r = 1; r <= recordCount; ++r)
            for (int c = 0; c < p.data->ColCount(); ++c)
                p.data->SetCell(c, r, GeneratedCell(ch + 1, 'D', c, r));
        for (int r = 1; r < p.settings->RowCount(); ++r)
            for (int c = 0; c < p.settings->ColCount(); ++c)
                p.settings->SetCell(c, r, GeneratedCell(ch + 1, 'S', c, r));
    }
}
