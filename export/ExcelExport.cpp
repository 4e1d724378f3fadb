#include "ExcelExport.h"

#include "TextGrid.h"

#include <utility>

const QString kNoExcelText = QStringLiteral(
    "Невозможно открыть Microsoft Excel!Возможно Excel не установлен на компьютере.");
const QString kBookOpenErrorText = QStringLiteral("Ошибка открытия книги Microsoft Excel!");
const QString kCellErrorText = QStringLiteral("Ошибка экспорта!");
const QString kServerGoneText =
    QStringLiteral("Microsoft Excel больше не отвечает (возможно, он закрыт). Экспорт остановлен.");

namespace {
const TextGrid kNoGrid(0, 0);

const TextGrid& GridOrEmpty(const TextGrid* grid) {
    return grid ? *grid : kNoGrid;
}
} // namespace

void ExcelExport::ShowError(const QString& text) const {
    if (hooks_.showError)
        hooks_.showError(text);
}

void ExcelExport::StopAsGone() {
    if (!gone_)
        ShowError(kServerGoneText);
    gone_ = true;
}

ExcelExport::ExcelExport(ExcelMembers members, ExcelExportHooks hooks)
    : members_(members), hooks_(std::move(hooks)) {}

bool ExcelExport::OpenExcelBook() {
    std::shared_ptr<ExcelApplication> app;
    try {
        if (hooks_.start)
            app = hooks_.start();
    } catch (const std::exception&) {
        app.reset();
    }
    if (!app) {
        ShowError(kNoExcelText);
        return false;
    }
    members_.ExcelApp = app;
    try {
        app->WorkBooks()->Add();
        members_.ExcelSheet = app->WorkSheets(1);
    } catch (const ExportError&) {
        ShowError(kBookOpenErrorText);
        return false;
    }
    return true;
}

void ExcelExport::SetExcelCell(int row, int column, const QString& text) {
    if (gone_)
        return;
    try {
        if (!members_.ExcelSheet)
            throw ExportError(QStringLiteral("no worksheet"));
        members_.ExcelSheet->Cells(row, column)->SetValue(text);
    } catch (const ExportError& e) {
        if (e.ServerGone())
            StopAsGone();
        else
            ShowError(kCellErrorText);
    }
}

void ExcelExport::SelectSheet(int index, const QString& name) {
    std::shared_ptr<ExcelWorksheets> sheets = members_.ExcelApp->Worksheets();
    // A new workbook may come with fewer sheets than the channels need; the missing one is
    // added after the last so that no channel is lost.
    if (index > 1) {
        const int count = sheets->Count();
        if (count < index)
            sheets->AddAfter(sheets->Item(count));
    }
    members_.ExcelSheet = sheets->Item(index);
    members_.ExcelSheet->SetName(name);
}

bool ExcelExport::WriteGridRows(const TextGrid& grid, int firstSheetRow) {
    const ExportProgress& progress = hooks_.progress;
    for (int row = 0; row < grid.RowCount(); ++row) {
        if (progress.Cancelled())
            return false;
        for (int col = 0; col < grid.ColCount(); ++col)
            SetExcelCell(firstSheetRow + row, col + 1, grid.Cell(col, row));
        if (gone_)
            return false;
        progress.Step();
        progress.ProcessEvents();
    }
    return true;
}

bool ExcelExport::FillSheet(const HeadingLines& headings, const TextGrid& settings,
                            const TextGrid& data, const QString& suffix) {
    SetExcelCell(1, 1, headings.identification + suffix);
    SetExcelCell(2, 1, headings.serialLine);
    SetExcelCell(3, 1, headings.placeLine);
    if (gone_)
        return false;
    const int settingsRow = 4;
    const int dataRow = settingsRow + settings.RowCount() + 1; // one empty row between blocks
    return WriteGridRows(settings, settingsRow) && WriteGridRows(data, dataRow);
}

ExcelExportOutcome ExcelExport::Run(const ExportSource& source) {
    try {
        return RunSteps(source);
    } catch (const ExportError& e) {
        if (!e.ServerGone())
            throw;
        StopAsGone();
        return ExcelExportOutcome::Stopped;
    }
}

ExcelExportOutcome ExcelExport::RunSteps(const ExportSource& source) {
    const TextGrid& data1 = GridOrEmpty(source.grid1);
    const TextGrid& settings1 = GridOrEmpty(source.grid2);
    hooks_.progress.SetMax(2 * (data1.RowCount() + settings1.RowCount()));

    if (!OpenExcelBook())
        return ExcelExportOutcome::NotOpened;

    SelectSheet(1, QStringLiteral("Канал 1"));
    if (!FillSheet(source.headings, settings1, data1, QStringLiteral(" - Канал 1")))
        return gone_ ? ExcelExportOutcome::Stopped : ExcelExportOutcome::Cancelled;

    SelectSheet(2, QStringLiteral("Канал 2"));
    if (source.channelCount == 2 &&
        !FillSheet(source.headings, GridOrEmpty(source.grid4), GridOrEmpty(source.grid3),
                   QStringLiteral(" - Канал 2")))
        return gone_ ? ExcelExportOutcome::Stopped : ExcelExportOutcome::Cancelled;

    if (members_.ExcelApp)
        members_.ExcelApp->SetVisible(true);
    members_.ExcelSheet.reset();
    members_.ExcelApp.reset();
    return ExcelExportOutcome::Completed;
}
