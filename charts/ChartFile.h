#pragma once

// Saving a chart: the picture is painted into a PNG image or a PDF page, chosen by the file's
// extension, and written atomically (a failed write leaves an earlier file whole).

#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

class QCPPainter;

// Paints the chart at the painter's origin, size pixels large.
using ChartPaint = std::function<void(QCPPainter& painter, QSize size)>;

// The chart as an image (for the clipboard and PNG files).
QImage RenderChartImage(QSize size, const ChartPaint& paint);

// Writes the chart to path: a PDF page (vector) when the name ends in .pdf, a PNG image otherwise.
// Returns the cause of a failure in words for the user, or an empty text on success.
QString WriteChartFile(const QString& path, QSize size, const ChartPaint& paint);
