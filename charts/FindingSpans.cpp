#include "FindingSpans.h"

#include "OverWhite.h"

#include <qcustomplot.h>

#include <algorithm>

namespace {

const QString kSpanName = QStringLiteral("finding-span");

const QColor kSpanLine(0xd0, 0x30, 0x30, 140);
const QColor kSpanFill(0xff, 0x50, 0x50, 45);

} // namespace

FindingSpanLook FindingSpanStyle(bool opaque) {
    return {QPen(opaque ? OverWhite(kSpanLine) : kSpanLine, 1),
            QBrush(opaque ? OverWhite(kSpanFill) : kSpanFill)};
}

void DrawFindingSpans(QCustomPlot* plot, const std::vector<Finding>& findings) {
    for (int i = plot->itemCount() - 1; i >= 0; --i)
        if (plot->item(i)->objectName() == kSpanName)
            plot->removeItem(i);
    QCPAxisRect* rect = plot->axisRect();
    for (const Finding& f : findings) {
        auto* span = new QCPItemRect(plot);
        span->setObjectName(kSpanName);
        span->setClipAxisRect(rect);
        span->setLayer(QStringLiteral("background"));
        for (QCPItemPosition* corner : {span->topLeft, span->bottomRight}) {
            corner->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
            corner->setAxisRect(rect);
            corner->setTypeX(QCPItemPosition::ptPlotCoords);
            corner->setTypeY(QCPItemPosition::ptAxisRectRatio);
        }
        span->topLeft->setCoords(static_cast<double>(f.from), 0);
        span->bottomRight->setCoords(static_cast<double>(f.to), 1);
        const FindingSpanLook look = FindingSpanStyle(false);
        span->setPen(look.pen);
        span->setBrush(look.brush);
    }
}

void ZoomToFinding(QCustomPlot* plot, const Finding& f) {
    const double span = static_cast<double>(f.to - f.from);
    const double margin = std::max(6 * 3600.0, span * 0.5);
    plot->xAxis->setRange(static_cast<double>(f.from) - margin, static_cast<double>(f.to) + margin);
    plot->replot();
}
