#pragma once

// The findings on the charts: each finding of a channel as a marked span across its time chart,
// and the time axis zoomed to one of them.

#include "Finding.h"

#include <vector>

class QCustomPlot;

// Marks each finding's span on the time chart (replacing the spans marked before); a finding of
// one moment is a thin line. The caller replots.
void DrawFindingSpans(QCustomPlot* timePlot, const std::vector<Finding>& findings);

// The time axis around the finding: its span with a margin each side (at least a few hours, so
// that a short one is seen in its surroundings). Replots.
void ZoomToFinding(QCustomPlot* timePlot, const Finding& finding);
