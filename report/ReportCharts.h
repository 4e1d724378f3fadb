#pragma once

// The charts of the report: for each channel, the chart window's time chart and heating curve
// (charts/ChannelChart) recorded as vector drawings. Recording needs the QApplication's thread
// (the charts are widgets); the drawings are then replayed into the PDF on any thread.

#include "ChartSeries.h"

#include <QPicture>
#include <QSize>

#include <vector>

struct ChannelPictures {
    QPicture time;  // temperatures over time with the relay bands under them
    QPicture curve; // supply against outdoor, the curve's target over it
    QSize timeSize, curveSize;
    bool empty = true; // the channel has no record to draw
};

// One entry per series. Call on the QApplication's thread.
std::vector<ChannelPictures> DrawReportCharts(const std::vector<ChannelSeries>& series);
