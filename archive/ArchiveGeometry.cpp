#include "ArchiveGeometry.h"

ArchiveGeometry GeometryFor(int channelCount) {
    ArchiveGeometry g;
    if (channelCount < 1 || channelCount > MaxChannelCount)
        return g;
    g.channelBlockSize = ArchiveSize / channelCount;
    g.recordAreaSize = g.channelBlockSize - SettingsAreaSize;
    g.recordCount = g.recordAreaSize / ArchiveRecordSize;
    return g;
}
