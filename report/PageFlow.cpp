#include "PageFlow.h"

#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextOption>

#include <algorithm>

namespace {

QFont FontOf(double points, bool bold) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

constexpr double kCellPadding = 2.0; // points

// Every text wraps at word boundaries and, where one word is wider than its box (an
// identification or a file name without spaces), inside the word: nothing runs off the page.
QTextOption Wrapping() {
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

} // namespace

PageFlow::PageFlow(QPagedPaintDevice& device, QPainter& painter)
    : device_(device), painter_(painter) {
    const QRect page = device.pageLayout().paintRectPixels(device.logicalDpiX());
    area_ = QRectF(0, 0, page.width(), page.height());
    y_ = area_.top();
}

double PageFlow::Points(double pt) const {
    return pt * device_.logicalDpiY() / 72.0;
}

double PageFlow::TextHeight(const QString& text, double width, double fontPoints, bool bold) const {
    painter_.setFont(FontOf(fontPoints, bold));
    return painter_.boundingRect(QRectF(0, 0, width, 1e6), text, Wrapping()).height();
}

void PageFlow::Need(double height) {
    if (y_ + height > area_.bottom() && y_ > area_.top())
        NewPage();
}

void PageFlow::NewPage() {
    device_.newPage();
    y_ = area_.top();
}

void PageFlow::Space(double points) {
    y_ += Points(points);
}

void PageFlow::Title(const QString& text) {
    const double h = TextHeight(text, Width(), 16, true);
    Need(h);
    painter_.setFont(FontOf(16, true));
    painter_.drawText(QRectF(area_.left(), y_, Width(), h), text, Wrapping());
    y_ += h + Points(6);
}

void PageFlow::Heading(const QString& text) {
    const double h = TextHeight(text, Width(), 11.5, true);
    Need(h + Points(40)); // never a heading alone at the foot of a page
    y_ += Points(8);
    painter_.setFont(FontOf(11.5, true));
    painter_.drawText(QRectF(area_.left(), y_, Width(), h), text, Wrapping());
    y_ += h + Points(3);
}

void PageFlow::Paragraph(const QString& text, double fontPoints) {
    const double h = TextHeight(text, Width(), fontPoints, false);
    Need(h);
    painter_.setFont(FontOf(fontPoints, false));
    painter_.drawText(QRectF(area_.left(), y_, Width(), h), text, Wrapping());
    y_ += h + Points(2);
}

void PageFlow::Block(double height, const std::function<void(QPainter&, const QRectF&)>& draw) {
    Need(height);
    const QRectF rect(area_.left(), y_, Width(), height);
    painter_.save();
    draw(painter_, rect);
    painter_.restore();
    y_ += height;
}

void PageFlow::Table(const FlowTable& table) {
    const double pad = Points(kCellPadding);
    double shareSum = 0;
    for (double w : table.widths)
        shareSum += w;
    std::vector<double> widths;
    for (double w : table.widths)
        widths.push_back(Width() * w / shareSum);
    const QPen grid(QColor(0xb0, 0xb0, 0xb0), Points(0.5));

    auto rowHeight = [&](const QStringList& cells, bool bold) {
        double h = 0;
        for (int c = 0; c < static_cast<int>(widths.size()) && c < cells.size(); ++c)
            h = std::max(h, TextHeight(cells[c], widths[c] - 2 * pad, table.fontPoints, bold));
        return h + 2 * pad;
    };
    auto drawRow = [&](const QStringList& cells, bool heading, const std::vector<bool>* marks) {
        const double h = rowHeight(cells, heading);
        double x = area_.left();
        for (int c = 0; c < static_cast<int>(widths.size()); ++c) {
            const QRectF cell(x, y_, widths[c], h);
            const bool mark = marks && c < static_cast<int>(marks->size()) && (*marks)[c];
            if (heading)
                painter_.fillRect(cell, QColor(0xe8, 0xe8, 0xe8));
            else if (mark)
                painter_.fillRect(cell, QColor(0xff, 0xe0, 0x8a));
            painter_.setPen(grid);
            painter_.drawRect(cell);
            painter_.setPen(Qt::black);
            painter_.setFont(FontOf(table.fontPoints, heading || mark));
            painter_.drawText(cell.adjusted(pad, pad, -pad, -pad),
                              c < cells.size() ? cells[c] : QString(), Wrapping());
            x += widths[c];
        }
        y_ += h;
    };

    const double headingHeight = rowHeight(table.headings, true);
    Need(headingHeight + Points(30));
    drawRow(table.headings, true, nullptr);
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        const QString note = r < static_cast<std::size_t>(table.notes.size())
                                 ? table.notes[static_cast<qsizetype>(r)]
                                 : QString();
        const double noteHeight =
            note.isEmpty() ? 0
                           : TextHeight(note, Width() - 2 * pad, table.fontPoints, false) + 2 * pad;
        const double h = rowHeight(table.rows[r], false) + noteHeight;
        if (y_ + h > area_.bottom()) {
            NewPage();
            drawRow(table.headings, true, nullptr); // the headings again on the new page
        }
        drawRow(table.rows[r], false, r < table.marked.size() ? &table.marked[r] : nullptr);
        if (!note.isEmpty()) {
            const QRectF cell(area_.left(), y_, Width(), noteHeight);
            painter_.setPen(grid);
            painter_.drawRect(cell);
            painter_.setPen(Qt::black);
            painter_.setFont(FontOf(table.fontPoints, false));
            painter_.drawText(cell.adjusted(pad, pad, -pad, -pad), note, Wrapping());
            y_ += noteHeight;
        }
    }
    y_ += Points(4);
}
