#pragma once

// The library window's table cells, shared by the controllers' and the fleet's tables: read-only
// texts and numbers (numbers sort as numbers), lost days and days until overwriting in their
// colours, the mark of a fleet row that needs the engineer, and the tables themselves.

#include <QColor>
#include <QString>

#include <optional>

class QStandardItem;
class QTableView;
class QWidget;

namespace librarycells {

QStandardItem* Text(const QString& text);
QStandardItem* Number(double value);

// Days lost to overwriting (one decimal), marked when there are any.
QStandardItem* LostDays(qint64 seconds);

// Days until records not yet read are overwritten (one decimal): soon (two weeks or less) stands
// out, already (negative) is red. Empty without a time.
QStandardItem* DueDays(const std::optional<qint64>& overwriteFrom, qint64 asOf);

// A fleet row that needs the engineer stands out whole, as lost days do in the controllers'
// list: a controller not collected (nothing of it read) or one losing records already in the
// lost days' colour, one two weeks or less from it in the colour of its days.
std::optional<QColor> FleetRowMark(bool failed, const std::optional<qint64>& overwriteFrom,
                                   qint64 asOf);

// A table of whole rows, one chosen at a time, sorted by a click on a heading.
QTableView* MakeTable(QWidget* parent);

} // namespace librarycells
