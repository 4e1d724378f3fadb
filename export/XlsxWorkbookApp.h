#pragma once

// The program's own workbook application, with the members the Excel export calls, on
// libxlsxwriter. Workbooks live in memory (sheets in order, cells by position) until the
// application is made visible: then every workbook not yet shown is written as an .xlsx file in
// a new folder under the user's temporary directory and handed to the file opener (by default
// the desktop's application for .xlsx files).
//
// What it does as a workbook application does:
//   - a new workbook has one worksheet, "Лист1", and becomes the active workbook;
//   - every value is stored as a text, also when it looks like a number; an empty text empties
//     the cell;
//   - sheet names follow the usual rules (1 to 31 characters, none of : \ / ? * [ ], no
//     apostrophe at either end, unique in the workbook regardless of case);
//   - cells lie in rows 1..1048576 and columns 1..16384, texts are at most 32767 characters.
// Breaking a rule throws ExportError with a text that says what was wrong.

#include "ExcelAutomation.h"

#include <QString>

#include <functional>
#include <memory>

// Opens a written workbook file for the user; false when nothing could open it.
using WorkbookOpener = std::function<bool(const QString& path)>;

// The desktop's default application for the file, through QDesktopServices (needs QtGui).
bool OpenWithDesktop(const QString& path);

struct XlsxApplicationOptions {
    // The first part of the file names, made safe for a file name; the date and time follow.
    QString documentName = QStringLiteral("КВ-9000Л");
    // Where the new folders for the files are made; empty means the user's temporary directory.
    QString folderRoot;
    WorkbookOpener opener = OpenWithDesktop;
};

std::shared_ptr<ExcelApplication> MakeXlsxApplication(XlsxApplicationOptions options = {});

// The opener the window's exports use (tests put one that records instead of opening); an empty
// function restores the desktop opener.
void SetWorkbookOpener(WorkbookOpener opener);
const WorkbookOpener& CurrentWorkbookOpener();

// A name safe on every common file system: the characters / \ : * ? " < > | and control
// characters become '_', leading and trailing spaces and dots are dropped; an empty result
// becomes "Книга".
QString SafeFileName(const QString& name);
