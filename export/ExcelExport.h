#pragma once

// The export of the grids into a new workbook of a workbook application: sheet "Канал 1" with
// channel 1, sheet "Канал 2" with channel 2 (named in every case, filled only with two
// channels), then the application is shown.
//
// Sheet layout, rows and columns counted from 1:
//   A1  identification text + " - Канал N"
//   A2  serial line
//   A3  place line
//   from row 4: the settings grid, every row and every cell (empty ones as empty text),
//               grid column c in sheet column c + 1
//   one empty row, then the data grid the same way, every row, blank ones too, so that the
//               sheet keeps the grid's row positions (with a 5-row settings grid: rows 4-8 and
//               from row 10)
//
// Failures, each told the user in its own way:
//   - the application cannot be started: error box kNoExcelText, the export ends;
//   - adding the workbook or getting its first worksheet fails: error box kBookOpenErrorText,
//     the export ends;
//   - a cell write fails: error box kCellErrorText for that cell, the export goes on;
//   - getting or naming a sheet, or showing the application, fails: Run throws ExportError with
//     the application's text and the remaining steps do not run;
//   - the application is gone (the user closed it during the export, it crashed): one error box
//     kServerGoneText at the first call that finds it gone, and the export stops there
//     (Stopped) instead of failing every remaining cell.

#include "ExcelAutomation.h"
#include "ExportProgress.h"
#include "ExportSource.h"

#include <QString>

#include <functional>
#include <memory>

class TextGrid;

extern const QString kNoExcelText;
extern const QString kBookOpenErrorText;
extern const QString kCellErrorText;
extern const QString kServerGoneText;

// Where the window keeps the application and the sheet being filled between the steps of one
// export: references to its two members. Cleared at the end of every export that runs to its end;
// an export that ends early leaves them as they are, and the next export overwrites them.
struct ExcelMembers {
    std::shared_ptr<ExcelApplication>& ExcelApp;
    std::shared_ptr<ExcelWorksheet>& ExcelSheet;
};

struct ExcelExportHooks {
    // Reaches the application: a running one, or a new one. Returns null or throws when there
    // is none to be had.
    std::function<std::shared_ptr<ExcelApplication>()> start;
    // An error box (caption "Ошибка", error icon) with the text given.
    std::function<void(const QString& text)> showError;
    ExportProgress progress;
};

enum class ExcelExportOutcome {
    Completed, // the application shows the new workbook, the members are cleared
    NotOpened, // the application or its workbook could not be had; the user has been told
    Cancelled, // cancelled() said stop before a grid row; nothing more was called
    Stopped,   // the application went away; the user has been told once, nothing more was called
};

class ExcelExport {
public:
    ExcelExport(ExcelMembers members, ExcelExportHooks hooks);

    // The whole export. Progress: setMax(2 × the rows of the channel-1 grids) first, whatever the
    // channel count, then one step per grid row written.
    ExcelExportOutcome Run(const ExportSource& source);

    // Starts or reaches the application into ExcelApp, adds a workbook and puts its first
    // worksheet into ExcelSheet. Reports its failures by error box and returns false.
    bool OpenExcelBook();

    // Writes text into the cell (row, column) of ExcelSheet. Reports a failure by error box and
    // returns normally.
    void SetExcelCell(int row, int column, const QString& text);

private:
    void ShowError(const QString& text) const;
    void SelectSheet(int index, const QString& name);
    bool FillSheet(const HeadingLines& headings, const TextGrid& settings, const TextGrid& data,
                   const QString& suffix);
    bool WriteGridRows(const TextGrid& grid, int firstSheetRow);
    // Tells the user once that the application is gone; later calls are not made.
    void StopAsGone();
    ExcelExportOutcome RunSteps(const ExportSource& source);

    ExcelMembers members_;
    ExcelExportHooks hooks_;
    bool gone_ = false; // the application is gone: no more calls
};
