#include "LibraryWindowCells.h"

#include "OverwriteDue.h"

#include <QHeaderView>
#include <QStandardItem>
#include <QTableView>

#include <cmath>

namespace librarycells {
namespace {

const QColor kLostColour(255, 205, 205);
constexpr double kDueSoonDays = 14.0;
const QColor kDueSoonColour(255, 232, 150);
const QColor kDuePastColour(240, 110, 110);

// The days as the column shows them (one decimal).
double ShownDays(qint64 overwriteFrom, qint64 asOf) {
    return std::round(DaysUntil(overwriteFrom, asOf) * 10.0) / 10.0;
}

} // namespace

QStandardItem* Text(const QString& text) {
    auto* item = new QStandardItem(text);
    item->setEditable(false);
    return item;
}

QStandardItem* Number(double value) {
    auto* item = new QStandardItem;
    item->setData(value, Qt::DisplayRole);
    item->setEditable(false);
    return item;
}

QStandardItem* LostDays(qint64 seconds) {
    QStandardItem* item = Number(std::round(static_cast<double>(seconds) / 8640.0) / 10.0);
    if (seconds > 0)
        item->setBackground(kLostColour);
    return item;
}

QStandardItem* DueDays(const std::optional<qint64>& overwriteFrom, qint64 asOf) {
    if (!overwriteFrom)
        return Text(QString());
    const double days = ShownDays(*overwriteFrom, asOf);
    QStandardItem* item = Number(days);
    if (days < 0)
        item->setBackground(kDuePastColour);
    else if (days <= kDueSoonDays)
        item->setBackground(kDueSoonColour);
    return item;
}

std::optional<QColor> FleetRowMark(bool failed, const std::optional<qint64>& overwriteFrom,
                                   qint64 asOf) {
    if (failed)
        return kLostColour;
    if (!overwriteFrom)
        return std::nullopt;
    const double days = ShownDays(*overwriteFrom, asOf);
    if (days < 0)
        return kLostColour;
    if (days <= kDueSoonDays)
        return kDueSoonColour;
    return std::nullopt;
}

QTableView* MakeTable(QWidget* parent) {
    auto* view = new QTableView(parent);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSortingEnabled(true);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    return view;
}

} // namespace librarycells
