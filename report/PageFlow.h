#pragma once

// Text, tables and pictures flowing down the pages of a paged device (the PDF writer): each
// block goes on the current page when it fits, otherwise on a new one. Lengths are in the
// device's units; fonts in points.

#include <QRectF>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QPagedPaintDevice;
class QPainter;

struct FlowTable {
    QStringList headings;
    std::vector<double> widths; // shares of the width, one per column
    std::vector<QStringList> rows;
    // Cells to mark (a tinted background and bold text): marked[row][column]; may be empty.
    std::vector<std::vector<bool>> marked;
    // A text under each row across the whole width; may be empty.
    QStringList notes;
    double fontPoints = 8;
};

class PageFlow {
public:
    // Draws on painter, which paints on device; the painter is active.
    PageFlow(QPagedPaintDevice& device, QPainter& painter);

    void Title(const QString& text);
    void Heading(const QString& text);
    void Paragraph(const QString& text, double fontPoints = 9);
    void Table(const FlowTable& table);
    void Space(double points);
    // A block of the given height across the whole width, drawn by draw into its rectangle.
    void Block(double height, const std::function<void(QPainter&, const QRectF&)>& draw);
    void NewPage();

    double Width() const { return area_.width(); }
    double PageHeight() const { return area_.height(); }
    double Points(double pt) const; // points in device units

private:
    void Need(double height); // a new page when height does not fit below the cursor
    double TextHeight(const QString& text, double width, double fontPoints, bool bold) const;

    QPagedPaintDevice& device_;
    QPainter& painter_;
    QRectF area_; // the page inside its margins
    double y_ = 0;
};
