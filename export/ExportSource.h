#pragma once

// Everything an export reads from the window, gathered when the export starts. The grids are
// borrowed: they must outlive the export. Channel 2's grids may be null when the channel count
// is not 2; they are read only then.

#include "HeadingLines.h"

class TextGrid;

struct ExportSource {
    HeadingLines headings;
    int channelCount = 0;            // 0 (no controller found), 1 or 2
    const TextGrid* grid1 = nullptr; // channel 1 data
    const TextGrid* grid2 = nullptr; // channel 1 settings
    const TextGrid* grid3 = nullptr; // channel 2 data
    const TextGrid* grid4 = nullptr; // channel 2 settings
};
