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

} // namespace

std::vector<ChannelPictures> DrawReportCharts(const std::vector<ChannelSeries>& series) {
    std::vector<ChannelPictures> out(series.size());
    for (std::size_t k = 0; k < series.size(); ++k) {
        if (series[k].Empty())
            continue;
        ChannelChart chart;
        chart.SetSeries(series[k], nullptr);
        Record(out[k].time, chart.TimePlot(), kTimeSize);
        Record(out[k].curve, chart.CurvePlot(), kCurveSize);
        out[k].timeSize = kTimeSize;
        out[k].curveSize = kCurveSize;
        out[k].empty = false;
    }
    return out;
}
