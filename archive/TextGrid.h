#pragma once

// A table of cell texts, addressed (column, row) as the grids of the window are. It is what the
// decoder writes and the exporters read; the window shows it through a model without copying.
// Plain class, no widgets, so that decoding and exporting are tested without a window.

#include <QString>

#include <functional>
#include <vector>

class TextGrid {
public:
    TextGrid(int colCount, int rowCount);

    int ColCount() const { return cols_; }
    int RowCount() const { return rows_; }

    // Growing adds empty rows; shrinking drops the last rows.
    void SetRowCount(int rows);

    // Out-of-range cells read as the empty text.
    const QString& Cell(int col, int row) const;
    // Out-of-range writes are ignored.
    void SetCell(int col, int row, const QString& text);

    // Sets every cell of one row to the empty text.
    void ClearRow(int row);

    // A listener that learns about changes: cellChanged(col, row) for a single write outside a
    // batch, reset() after SetRowCount or at the end of a batch. One listener at a time (the
    // view's model); nullptr functions are allowed.
    struct Listener {
        std::function<void()> aboutToReset;
        std::function<void()> reset;
        std::function<void(int col, int row)> cellChanged;
    };
    void SetListener(Listener listener);

    // Batch of writes (the decoder's whole run): the listener hears one reset at the end instead
    // of one notice per cell. Nested batches count.
    void BeginUpdate();
    void EndUpdate();

private:
    int cols_;
    int rows_;
    std::vector<QString> cells_; // row-major
    Listener listener_;
    int updateDepth_ = 0;
};

// Scope guard for BeginUpdate/EndUpdate.
class TextGridUpdate {
public:
    explicit TextGridUpdate(TextGrid& grid) : grid_(grid) { grid_.BeginUpdate(); }
    ~TextGridUpdate() { grid_.EndUpdate(); }
    TextGridUpdate(const TextGridUpdate&) = delete;
    TextGridUpdate& operator=(const TextGridUpdate&) = delete;

private:
    TextGrid& grid_;
};
