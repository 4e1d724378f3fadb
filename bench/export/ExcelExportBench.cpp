// Time of an Excel export of a full two-channel archive into the .xlsx file, the opener left
// out: the layout logic, the in-memory workbook and the file written by libxlsxwriter.
// Also the text file of the same archive, for comparison. Prints the figures.

#include "ExcelExport.h"
#include "TextExport.h"
#include "TextGrid.h"
#include "XlsxWorkbookApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Cell texts shaped like the decoder's: row numbers, dates, times, tenths with a comma.
void Fill(TextGrid& grid, int channel) {
    for (int r = 0; r < grid.RowCount(); ++r)
        for (int c = 0; c < grid.ColCount(); ++c)
            grid.SetCell(
                c, r,
                c == 0   ? QString::number(r)
                : c == 1 ? QStringLiteral("%1.03.10").arg(r % 28 + 1, 2, 10, QChar('0'))
                : c == 2 ? QStringLiteral("08:%1:00").arg(r % 60, 2, 10, QChar('0'))
                         : QStringLiteral("%1,%2").arg((r * c + channel) % 900 - 300).arg(r % 10));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = 5;

    TextGrid data1(14, 4221), settings1(16, 5), data2(14, 4221), settings2(16, 5);
    Fill(data1, 1);
    Fill(settings1, 1);
    Fill(data2, 2);
    Fill(settings2, 2);
    ExportSource source;
    source.headings = MakeHeadingLines("Лорк КB-9000Л-2К вер. 1.07", "Серийный номер:", 12345,
                                       "Место установки регулятора:", "Котельная");
    source.channelCount = 2;
    source.grid1 = &data1;
    source.grid2 = &settings1;
    source.grid3 = &data2;
    source.grid4 = &settings2;

    QTemporaryDir root;
    std::vector<double> excelMs, textMs;
    qint64 fileSize = 0;
    for (int i = 0; i < runs; ++i) {
        QString written;
        std::shared_ptr<ExcelApplication> excelApp;
        std::shared_ptr<ExcelWorksheet> excelSheet;
        ExcelExportHooks hooks;
        hooks.start = [&] {
            XlsxApplicationOptions options;
            options.folderRoot = root.path();
            options.opener = [&written](const QString& path) {
                written = path;
                return true;
            };
            return MakeXlsxApplication(options);
        };
        QElapsedTimer timer;
        timer.start();
        const ExcelExportOutcome outcome = ExcelExport({excelApp, excelSheet}, hooks).Run(source);
        excelMs.push_back(timer.nsecsElapsed() / 1e6);
        if (outcome != ExcelExportOutcome::Completed || written.isEmpty()) {
            std::fprintf(stderr, "export failed\n");
            return 1;
        }
        fileSize = QFileInfo(written).size();

        timer.restart();
        WriteTextFile(root.filePath("archive.txt"), BuildTextExport(source));
        textMs.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(excelMs.begin(), excelMs.end());
    std::sort(textMs.begin(), textMs.end());
    std::printf("Excel export, full two-channel archive (2 x 4221 data rows x 14 + 2 x 5 x 16 "
                "cells) to .xlsx, opener excluded: median %.0f ms, min %.0f ms, max %.0f ms over "
                "%d runs; file %lld bytes\n",
                excelMs[runs / 2], excelMs.front(), excelMs.back(), runs,
                static_cast<long long>(fileSize));
    std::printf("Text export, same archive, built and written: median %.0f ms\n", textMs[runs / 2]);
    return 0;
}
