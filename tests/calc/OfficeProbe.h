#pragma once

// A connection of the tests' own to the office, to look at what the export left there and to
// end the office afterwards. It reaches the same office as the program (same profile, through
// the UNO bootstrap) or starts it when none is running.

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

struct SheetContent {
    QString name;
    QMap<std::pair<int, int>, QString> texts; // (column, row) -> text of every non-empty cell
    int nonTextCells = 0;                     // cells holding a number or a formula result
};

struct DocumentContent {
    QStringList sheetNames; // in the document's order
    QString activeSheet;
    bool modified = false;
    bool stored = false; // has a file behind it
    std::vector<SheetContent> sheets;
};

class OfficeProbe {
public:
    // Starts or reaches the office; what a started office prints goes to `officeOutput`.
    // Throws std::runtime_error, with that output, when the office cannot be reached.
    explicit OfficeProbe(const QString& officeOutput);
    ~OfficeProbe();

    int SpreadsheetCount();
    // The office's only spreadsheet document; throws std::runtime_error when there is not
    // exactly one.
    DocumentContent ReadOnlySpreadsheet();
    // Closes every open document without storing it.
    void CloseDocuments();
    // Ends the office. The connection is gone afterwards.
    void Terminate();

private:
    struct Connection;
    std::unique_ptr<Connection> connection_;
};
