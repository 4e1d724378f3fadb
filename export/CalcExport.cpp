#include "CalcExport.h"

#include "TextGrid.h"

namespace {

struct SheetPlan {
    QString name;
    quint16 position;
    QString headingSuffix;
    const TextGrid* settings;
    const TextGrid* data;
    bool skipEmptyData; // channel 1 leaves the blank cells of erased records alone
};

int RowsOf(const TextGrid* grid) {
    return grid != nullptr ? grid->RowCount() : 0;
}

// Writes a grid cell by cell, row by row, from (column 1, firstRow). False when cancelled.
bool WriteGrid(CalcAutomation& calc, const TextGrid* grid, quint32 firstRow, bool skipEmpty,
               const ExportProgress& progress) {
    if (grid == nullptr)
        return true;
    for (int r = 0; r < grid->RowCount(); ++r) {
        if (progress.Cancelled())
            return false;
        for (int c = 0; c < grid->ColCount(); ++c) {
            const QString& text = grid->Cell(c, r);
            if (skipEmpty && text.isEmpty())
                continue;
            calc.SetCellText(quint32(c) + 1, firstRow + quint32(r), text);
        }
        progress.Step();
        progress.ProcessEvents();
    }
    return true;
}

bool WriteSheet(CalcAutomation& calc, const SheetPlan& plan, const HeadingLines& headings,
                const ExportProgress& progress) {
    if (progress.Cancelled())
        return false;
    calc.SelectSheet(plan.name, plan.position);
    calc.SetCellText(1, 1, headings.identification + plan.headingSuffix);
    calc.SetCellText(1, 2, headings.serialLine);
    calc.SetCellText(1, 3, headings.placeLine);
    return WriteGrid(calc, plan.settings, CalcSettingsStart, false, progress) &&
           WriteGrid(calc, plan.data, CalcDataStart, plan.skipEmptyData, progress);
}

} // namespace

CalcExportResult ExportToCalc(const ExportSource& source, const ExportProgress& progress,
                              const CalcAutomationFactory& makeAutomation) {
    progress.SetMax(2 * (RowsOf(source.grid2) + RowsOf(source.grid1)));

    // Destroying the object releases its references; the document stays open even when an
    // error leaves this function.
    const std::unique_ptr<CalcAutomation> calc = makeAutomation();
    // The window stays usable while the office starts; closing it ends the wait.
    const CalcWaitStep waitStep = [&progress] {
        progress.ProcessEvents();
        return !progress.Cancelled();
    };
    if (!calc->Connect(waitStep))
        return progress.Cancelled() ? CalcExportResult::Cancelled : CalcExportResult::NotConnected;
    calc->NewDocument();

    const SheetPlan channel1{QStringLiteral("Канал 1"),
                             0,
                             QStringLiteral(" - Канал 1"),
                             source.grid2,
                             source.grid1,
                             true};
    if (!WriteSheet(*calc, channel1, source.headings, progress))
        return CalcExportResult::Cancelled;
    if (source.channelCount == 2) {
        const SheetPlan channel2{QStringLiteral("Канал 2"),
                                 1,
                                 QStringLiteral(" - Канал 2"),
                                 source.grid4,
                                 source.grid3,
                                 false};
        if (!WriteSheet(*calc, channel2, source.headings, progress))
            return CalcExportResult::Cancelled;
    }
    return CalcExportResult::Written;
}
