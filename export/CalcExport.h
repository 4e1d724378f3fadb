#pragma once

// The export into a new Calc document: one sheet per channel ("Канал 1" first, "Канал 2" after it
// for a two-channel controller), each with the heading lines in B2..B4, the settings grid from
// row index 4 and the data grid from row index CalcDataStart, one column to the right of the
// grids' own columns. Column A and row 1 stay empty. Every cell is written as text.
//
// The document is left open and unsaved in the office; the export never closes or saves it.

#include "CalcAutomation.h"
#include "ExportProgress.h"
#include "ExportSource.h"

#include <functional>
#include <memory>

// Row index of the first settings row and of the first data row on every sheet. One empty row
// separates the settings block (row indices 4 to 8 with five settings rows) from the data.
inline constexpr quint32 CalcSettingsStart = 4;
inline constexpr quint32 CalcDataStart = 10;

// What the window shows when the office cannot be reached: this text, this caption, one OK
// button and no icon.
inline constexpr char16_t CalcNotConnectedText[] = u"Ошибка при создании OpenOffice.org";
inline constexpr char16_t CalcNotConnectedCaption[] = u"Error";

// Makes the automation object of one export (OOCalcAuto in the program, a recorder in tests).
using CalcAutomationFactory = std::function<std::unique_ptr<CalcAutomation>()>;

enum class CalcExportResult {
    Written,      // every sheet written
    NotConnected, // Connect returned false: nothing was written, the caller shows the message
    Cancelled,    // progress.cancelled() said stop (also while waiting for the office): the rows
                  // written so far stay
};

// Runs one export with a new automation object from `makeAutomation`, destroyed (its
// references released) before the function returns in every case.
//
// Progress: setMax(2 × (settings rows + data rows of channel 1)) first, before connecting; while
// Connect waits for the office to start, processEvents() and cancelled() every 50 ms or so (true
// ends the wait); then
// one step() and one processEvents() after every grid row, including data rows of channel 1 that
// are entirely empty and therefore cost no call. cancelled() is asked before each sheet and each
// grid row.
//
// Throws ExportError when the office fails after a successful Connect; the cells written before
// stay in the document.
CalcExportResult ExportToCalc(const ExportSource& source, const ExportProgress& progress,
                              const CalcAutomationFactory& makeAutomation);
