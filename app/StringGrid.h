#pragma once

// A grid of cell texts as the window shows the archive: a view over a TextGrid, whose row 0 and
// column 0 are fixed headings that stay in place while the rest scrolls. Cells are read from the
// TextGrid when they are painted; nothing is stored per cell in the view.

#include "TextGrid.h"

#include <QAbstractTableModel>
#include <QTableView>

#include <vector>

// Shows the cells of a TextGrid below row 0 and right of column 0; row 0 is the horizontal
// heading, column 0 the vertical heading.
class TextGridModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit TextGridModel(TextGrid& grid, QObject* parent = nullptr);
    ~TextGridModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

signals:
    void cornerChanged(); // cell (0, 0) changed

private:
    TextGrid& grid_;
};

class StringGrid : public QTableView {
    Q_OBJECT

public:
    // colWidths: the width of every column in pixels, column 0 first; rowHeight for every row.
    StringGrid(int colCount, int rowCount, std::vector<int> colWidths, int rowHeight,
               QWidget* parent = nullptr);
    ~StringGrid() override;

    TextGrid& Cells() { return grid_; }
    const TextGrid& Cells() const { return grid_; }
    int ColCount() const { return grid_.ColCount(); }
    int RowCount() const { return grid_.RowCount(); }
    const QString& Cell(int col, int row) const { return grid_.Cell(col, row); }

    int ColWidth(int col) const;
    int RowHeight() const { return rowHeight_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ApplySizes();

    TextGrid grid_;
    std::vector<int> colWidths_;
    int rowHeight_;
    TextGridModel* model_;
};
