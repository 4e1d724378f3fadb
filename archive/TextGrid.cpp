#include "TextGrid.h"

#include <algorithm>
#include <utility>

namespace {
const QString kEmpty;
}

TextGrid::TextGrid(int colCount, int rowCount)
    : cols_(std::max(colCount, 0)), rows_(std::max(rowCount, 0)),
      cells_(static_cast<std::size_t>(cols_) * static_cast<std::size_t>(rows_)) {}

void TextGrid::SetRowCount(int rows) {
    rows = std::max(rows, 0);
    if (rows == rows_)
        return;
    const bool notify = updateDepth_ == 0;
    if (notify && listener_.aboutToReset)
        listener_.aboutToReset();
    rows_ = rows;
    cells_.resize(static_cast<std::size_t>(cols_) * static_cast<std::size_t>(rows_));
    if (notify && listener_.reset)
        listener_.reset();
}

const QString& TextGrid::Cell(int col, int row) const {
    if (col < 0 || col >= cols_ || row < 0 || row >= rows_)
        return kEmpty;
    return cells_[static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) +
                  static_cast<std::size_t>(col)];
}

void TextGrid::SetCell(int col, int row, const QString& text) {
    if (col < 0 || col >= cols_ || row < 0 || row >= rows_)
        return;
    cells_[static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) +
           static_cast<std::size_t>(col)] = text;
    if (updateDepth_ == 0 && listener_.cellChanged)
        listener_.cellChanged(col, row);
}

void TextGrid::ClearRow(int row) {
    for (int c = 0; c < cols_; ++c)
        SetCell(c, row, kEmpty);
}

void TextGrid::SetListener(Listener listener) {
    listener_ = std::move(listener);
}

void TextGrid::BeginUpdate() {
    if (updateDepth_++ == 0 && listener_.aboutToReset)
        listener_.aboutToReset();
}

void TextGrid::EndUpdate() {
    if (updateDepth_ > 0 && --updateDepth_ == 0 && listener_.reset)
        listener_.reset();
}
