#pragma once

// The findings on the charts: each finding of a channel as a marked span across its time chart,
// and the time axis zoomed to one of them.

#include "Finding.h"

#include <QBrush>
#include <QPen>

#include <vector>

class QCustomPlot;

// How a finding's span looks: a red outline and a light red fill across the temperatures,
// translucent over the window's chart; opaque, the same tint as over white (for a PDF/A page).
struct FindingSpanLook {
    QPen pen;
    QBrush brush;
};
FindingSpanLook FindingSpanStyle(bool opaque);

// Marks each finding's span on the time chart (replacing the spans marked before); a finding of
// one moment is a thin line. The caller replots.
void DrawFindingSpans(QCustomPlot* timePlot, const std::vector<Finding>& findings);

// The time axis around the finding: its span with a margin each side (at least a few hours, so
// that a short one is seen in its surroundings). Replots.
void ZoomToFinding(QCustomPlot* timePlot, const Finding& finding);
