#include "StringGrid.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QStyleOptionHeader>

TextGridModel::TextGridModel(TextGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid) {
    TextGrid::Listener listener;
    listener.aboutToReset = [this] { beginResetModel(); };
    listener.reset = [this] { endResetModel(); };
    listener.cellChanged = [this](int col, int row) {
        if (row == 0 && col > 0) {
            emit headerDataChanged(Qt::Horizontal, col - 1, col - 1);
        } else if (col == 0 && row > 0) {
            emit headerDataChanged(Qt::Vertical, row - 1, row - 1);
        } else if (col > 0 && row > 0) {
            const QModelIndex i = index(row - 1, col - 1);
            emit dataChanged(i, i, {Qt::DisplayRole});
        } else
            emit cornerChanged();
    };
    grid_.SetListener(std::move(listener));
}

TextGridModel::~TextGridModel() {
    grid_.SetListener({});
}

int TextGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(grid_.RowCount() - 1, 0);
}

int TextGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : std::max(grid_.ColCount() - 1, 0);
}

QVariant TextGridModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return grid_.Cell(index.column() + 1, index.row() + 1);
}

QVariant TextGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role == Qt::TextAlignmentRole)
        return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return grid_.Cell(section + 1, 0);
    return grid_.Cell(0, section + 1);
}

StringGrid::StringGrid(int colCount, int rowCount, std::vector<int> colWidths, int rowHeight,
                       QWidget* parent)
    : QTableView(parent), grid_(colCount, rowCount), colWidths_(std::move(colWidths)),
      rowHeight_(rowHeight), model_(new TextGridModel(grid_, this)) {
    setModel(model_);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setWordWrap(false);
    setTextElideMode(Qt::ElideNone);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);

    QHeaderView* top = horizontalHeader();
    QHeaderView* left = verticalHeader();
    for (QHeaderView* h : {top, left}) {
        h->setSectionResizeMode(QHeaderView::Fixed);
        h->setHighlightSections(false);
        h->setSectionsClickable(false);
        h->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        h->setMinimumSectionSize(1);
    }
    top->setStretchLastSection(false);

    // The corner above column 0 shows cell (0, 0), the heading of column 0.
    if (auto* corner = findChild<QAbstractButton*>()) {
        corner->installEventFilter(this);
        connect(model_, &TextGridModel::cornerChanged, corner, qOverload<>(&QWidget::update));
    }
    connect(model_, &QAbstractItemModel::modelReset, this, [this] { ApplySizes(); });
    ApplySizes();
}

StringGrid::~StringGrid() {
    // The model stops listening before the text table goes away.
    setModel(nullptr);
    delete model_;
}

int StringGrid::ColWidth(int col) const {
    if (col < 0 || colWidths_.empty())
        return 0;
    return colWidths_[std::min<std::size_t>(static_cast<std::size_t>(col), colWidths_.size() - 1)];
}

void StringGrid::ApplySizes() {
    QHeaderView* top = horizontalHeader();
    QHeaderView* left = verticalHeader();
    top->setFixedHeight(rowHeight_);
    left->setDefaultSectionSize(rowHeight_);
    left->setFixedWidth(ColWidth(0));
    for (int c = 1; c < grid_.ColCount(); ++c)
        top->resizeSection(c - 1, ColWidth(c));
}

bool StringGrid::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && qobject_cast<QAbstractButton*>(watched)) {
        auto* corner = static_cast<QAbstractButton*>(watched);
        QPainter painter(corner);
        QStyleOptionHeader opt;
        opt.initFrom(corner);
        opt.rect = corner->rect();
        opt.position = QStyleOptionHeader::OnlyOneSection;
        opt.text = grid_.Cell(0, 0);
        opt.textAlignment = Qt::AlignLeft | Qt::AlignVCenter;
        corner->style()->drawControl(QStyle::CE_Header, &opt, &painter, corner);
        return true;
    }
    return QTableView::eventFilter(watched, event);
}
