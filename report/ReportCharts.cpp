#include "ReportCharts.h"

#include "ChannelChart.h"

#include <qcustomplot.h>

namespace {

constexpr QSize kTimeSize(1000, 520);
constexpr QSize kCurveSize(640, 460);

void Record(QPicture& picture, QCustomPlot* plot, QSize size) {
    QCPPainter painter(&picture);
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    plot->toPainter(&painter, size.width(), size.height());
    painter.end();
}

// Where plot's first axis rect plots when the plot is drawn at size: laid out as drawing it at
// that size lays it out, then back as it was.
QRectF PlotAreaAt(QCustomPlot* plot, QSize size) {
    const QRect before = plot->viewport();
    plot->setViewport(QRect(QPoint(0, 0), size));
    for (const auto phase :
         {QCPLayoutElement::upPreparation, QCPLayoutElement::upMargins, QCPLayoutElement::upLayout})
        plot->plotLayout()->update(phase);
    const QRectF area = plot->axisRect()->rect();
    plot->setViewport(before);
    return area;
}

} // namespace

std::vector<ChannelPictures> DrawReportCharts(const std::vector<ChannelSeries>& series) {
    std::vector<ChannelPictures> out(series.size());
    for (std::size_t k = 0; k < series.size(); ++k) {
        if (series[k].Empty())
            continue;
        ChannelChart chart;
        chart.SetSeries(series[k], nullptr);
        chart.UseVectorDots();
        // The lines need no thinning here: the plot draws a line of more points than pixels as
        // the lowest and highest value of each pixel column.
        QCustomPlot* time = chart.TimePlot();
        // No background: the report lays the findings' spans under the picture.
        time->setBackground(QBrush(Qt::NoBrush));
        out[k].timeArea = PlotAreaAt(time, kTimeSize);
        out[k].timeFrom = time->xAxis->range().lower;
        out[k].timeTo = time->xAxis->range().upper;
        Record(out[k].time, time, kTimeSize);
        Record(out[k].curve, chart.CurvePlot(), kCurveSize);
        out[k].timeSize = kTimeSize;
        out[k].curveSize = kCurveSize;
        out[k].empty = false;
    }
    return out;
}
