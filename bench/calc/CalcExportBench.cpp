// Figures of the Calc export into a real office, on a profile of its own:
//  1. the cost of one cell through OOCalcAuto (program -> module -> office) against a bare loop
//     of the same two UNO calls (getCellByPosition, setString) on the same office, in rounds
//     that alternate the two, medians reported;
//  2. the wall time of a one-channel export of a whole generated archive (--rows N limits the
//     data rows and the figure is extrapolated from the cells written).
// Needs DISPLAY (Xvfb will do). Usage: bench_calc_export [--cells N] [--rounds N] [--rows N]

#include "ArchiveDecoder.h"
#include "ArchiveGeometry.h"
#include "CalcExport.h"
#include "OOCalcAuto.h"
#include "OfficeConnection.h"
#include "SimArchive.h"
#include "TextGrid.h"
#include "UnoText.h"

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace uno = css::uno;

namespace {

int Option(const QStringList& args, const QString& name, int fallback) {
    const qsizetype i = args.indexOf(name);
    return i >= 0 && i + 1 < args.size() ? args[i + 1].toInt() : fallback;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Same cells for both ways: 14 columns from B, rows from 10, texts like the grids'.
quint32 Column(int i) {
    return quint32(i % 14 + 1);
}
quint32 Row(int i) {
    return quint32(10 + i / 14);
}
QString Text(int i) {
    return QStringLiteral("%1,%2").arg(i % 900 - 300).arg(i % 10);
}

double ThroughLayerMs(int cells) {
    OOCalcAuto calc;
    if (!calc.Connect())
        throw ExportError(QStringLiteral("no office"));
    calc.NewDocument();
    calc.SelectSheet(QStringLiteral("Канал 1"), 0);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < cells; ++i)
        calc.SetCellText(Column(i), Row(i), Text(i));
    return double(timer.nsecsElapsed()) / 1e6;
}

double BareUnoMs(const uno::Reference<css::frame::XDesktop2>& desktop, int cells) {
    const uno::Reference<css::sheet::XSpreadsheetDocument> document(
        desktop->loadComponentFromURL(rtl::OUString("private:factory/scalc"),
                                      rtl::OUString("_blank"), 0, {}),
        uno::UNO_QUERY_THROW);
    const uno::Reference<css::sheet::XSpreadsheets> sheets = document->getSheets();
    sheets->insertNewByName(rtl::OUString("Bare"), 0);
    const uno::Reference<css::sheet::XSpreadsheet> sheet(sheets->getByName(rtl::OUString("Bare")),
                                                         uno::UNO_QUERY_THROW);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < cells; ++i) {
        const uno::Reference<css::table::XCell> cell =
            sheet->getCellByPosition(sal_Int32(Column(i)), sal_Int32(Row(i)));
        uno::Reference<css::text::XText>(cell, uno::UNO_QUERY_THROW)->setString(ToUno(Text(i)));
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

void CloseDocuments(const uno::Reference<css::frame::XDesktop2>& desktop) {
    const uno::Reference<css::container::XEnumeration> components =
        desktop->getComponents()->createEnumeration();
    std::vector<uno::Reference<css::util::XCloseable>> open;
    while (components->hasMoreElements()) {
        uno::Reference<css::util::XCloseable> closeable(components->nextElement(), uno::UNO_QUERY);
        if (closeable.is())
            open.push_back(closeable);
    }
    for (const auto& closeable : open)
        closeable->close(true);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int cells = Option(args, QStringLiteral("--cells"), 3000);
    const int rounds = Option(args, QStringLiteral("--rounds"), 5);
    const int rowsLimit = Option(args, QStringLiteral("--rows"), 0);

    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "DISPLAY is not set: the office needs a display (Xvfb will do)\n");
        return 1;
    }
    QTemporaryDir profile;
    setenv("UserInstallation", QUrl::fromLocalFile(profile.path()).toEncoded().constData(), 1);
    const uno::Reference<uno::XComponentContext> context = ConnectToOffice();
    if (!context.is()) {
        std::fprintf(stderr, "the office could not be reached\n");
        return 1;
    }
    const uno::Reference<css::frame::XDesktop2> desktop = css::frame::Desktop::create(context);

    try {
        // Warm-up: first document, first cells, code paths loaded on both sides.
        ThroughLayerMs(200);
        BareUnoMs(desktop, 200);
        CloseDocuments(desktop);

        std::vector<double> layer, bare;
        for (int r = 0; r < rounds; ++r) {
            layer.push_back(ThroughLayerMs(cells) / cells);
            bare.push_back(BareUnoMs(desktop, cells) / cells);
            CloseDocuments(desktop);
        }
        const double layerMs = Median(layer);
        const double bareMs = Median(bare);
        std::printf("per cell, median of %d rounds of %d cells:\n", rounds, cells);
        std::printf("  through OOCalcAuto   %.4f ms\n", layerMs);
        std::printf("  bare UNO calls       %.4f ms\n", bareMs);
        std::printf("  ratio                %.3f\n", layerMs / bareMs);

        // A whole one-channel archive, as the decoder fills the grids.
        const int records = GeometryFor(1).recordCount;
        TextGrid data(DataGridColumns, records + 1), settings(SettingsGridColumns, 5);
        TextGrid unused3(DataGridColumns, 1), unused4(SettingsGridColumns, 1);
        DecodeArchive(sim::GenerateArchive(1), 1, records, {&data, &settings, &unused3, &unused4});
        const int fullRows = data.RowCount();
        auto countCells = [&](const TextGrid& grid) {
            qint64 n = 0;
            for (int r = 0; r < grid.RowCount(); ++r)
                for (int c = 0; c < grid.ColCount(); ++c)
                    n += grid.Cell(c, r).isEmpty() ? 0 : 1;
            return n;
        };
        const qint64 fullCells = countCells(data) + countCells(settings) + 3;
        if (rowsLimit > 0 && rowsLimit < fullRows)
            data.SetRowCount(rowsLimit);
        const qint64 exportedCells = countCells(data) + countCells(settings) + 3;

        ExportSource source;
        source.headings = MakeHeadingLines(
            QStringLiteral("Лорк КB-9000Л вер. 1.07"), QStringLiteral("Серийный номер:"), 12345,
            QStringLiteral("Место установки регулятора:"), QStringLiteral("Котельная"));
        source.channelCount = 1;
        source.grid1 = &data;
        source.grid2 = &settings;
        QElapsedTimer timer;
        timer.start();
        ExportToCalc(source, {}, [] { return std::make_unique<OOCalcAuto>(); });
        const double seconds = double(timer.elapsed()) / 1000.0;
        std::printf("one-channel export: %d of %d data rows, %lld cells written, %.1f s\n",
                    data.RowCount(), fullRows, static_cast<long long>(exportedCells), seconds);
        if (exportedCells < fullCells)
            std::printf("  whole archive (%lld non-empty cells), extrapolated: %.1f s\n",
                        static_cast<long long>(fullCells), seconds * fullCells / exportedCells);
        CloseDocuments(desktop);
    } catch (const ExportError& e) {
        std::fprintf(stderr, "office error: %s\n", e.what());
    } catch (const uno::Exception& e) {
        std::fprintf(stderr, "office error: %s\n", FromUno(e.Message).toStdString().c_str());
    }
    try {
        desktop->terminate();
    } catch (const uno::Exception&) {
    }
    // The profile folder can go once the office has ended (it removes its lock then).
    QElapsedTimer ending;
    ending.start();
    while (QFileInfo::exists(profile.filePath(QStringLiteral(".lock"))) && ending.elapsed() < 30000)
        QThread::msleep(100);
    return 0;
}
