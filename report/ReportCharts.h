#pragma once

// The charts of the report: for each channel, the chart window's time chart and heating curve
// (charts/ChannelChart) recorded as vector drawings. Recording needs the QApplication's thread
// (the charts are widgets); the drawings are then replayed into the PDF on any thread.
//
// A page shows far fewer points than a full archive holds: a line of more records than pixels is
// drawn with the lowest and the highest value of each pixel column (so a spike of one record
// stays as tall as it was), and the heating curve's dots, thinned the same way by the plot, are
// vector discs rather than one image each; the report of a whole two-channel archive stays small
// enough to mail (well under 1 MB).

#include "ChartSeries.h"

#include <QPicture>
#include <QRectF>
#include <QSize>

#include <vector>

struct ChannelPictures {
    QPicture time;  // temperatures over time with the relay bands under them; no background
    QPicture curve; // supply against outdoor, the curve's target over it
    QSize timeSize, curveSize;
    // Where the time chart's temperatures are plotted in its picture, and the times (the
    // controller's wall time as UTC seconds) at that area's left and right edges: the report
    // marks the findings' spans there, under the picture.
    QRectF timeArea;
    double timeFrom = 0, timeTo = 0;
    bool empty = true; // the channel has no record to draw
};

// One entry per series. Call on the QApplication's thread.
std::vector<ChannelPictures> DrawReportCharts(const std::vector<ChannelSeries>& series);
