#pragma once

// The members of a workbook application the Excel export calls, as small interfaces. Every call
// may fail; a failure throws ExportError with the application's own error text. Objects handed
// out are counted references, as automation objects are: they stay valid while held, whatever
// happens to the object that handed them out.

#include "ExportError.h"

#include <QString>

#include <memory>

class ExcelRange {
public:
    virtual ~ExcelRange() = default;
    // Value := text. The text is stored as it is, as a text, also when it looks like a number;
    // an empty text leaves the cell empty.
    virtual void SetValue(const QString& text) = 0;
};

class ExcelWorksheet {
public:
    virtual ~ExcelWorksheet() = default;
    // Name := name.
    virtual void SetName(const QString& name) = 0;
    // Cells(row, column), both counted from 1.
    virtual std::shared_ptr<ExcelRange> Cells(int row, int column) = 0;
};

class ExcelWorksheets {
public:
    virtual ~ExcelWorksheets() = default;
    virtual int Count() = 0;
    // Item(index), counted from 1; fails when there is no such sheet.
    virtual std::shared_ptr<ExcelWorksheet> Item(int index) = 0;
    // Adds a new worksheet directly after the one given and returns it.
    virtual std::shared_ptr<ExcelWorksheet>
    AddAfter(const std::shared_ptr<ExcelWorksheet>& after) = 0;
};

class ExcelWorkbooks {
public:
    virtual ~ExcelWorkbooks() = default;
    // add: a new workbook, which becomes the application's active workbook.
    virtual void Add() = 0;
};

class ExcelApplication {
public:
    virtual ~ExcelApplication() = default;
    virtual std::shared_ptr<ExcelWorkbooks> WorkBooks() = 0;
    // WorkSheets(index): a worksheet of the active workbook.
    virtual std::shared_ptr<ExcelWorksheet> WorkSheets(int index) = 0;
    // Worksheets: the worksheets of the active workbook.
    virtual std::shared_ptr<ExcelWorksheets> Worksheets() = 0;
    // Visible := visible.
    virtual void SetVisible(bool visible) = 0;
};
