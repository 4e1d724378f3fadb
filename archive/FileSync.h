#pragma once

// Flushes what was written to an open file down to the disk, so that a full disk or a lost
// device shows as a failure now rather than as a file found damaged later.

#include <QString>

class QFileDevice;

// Flushes Qt's buffer and the system's cache of file. Returns the cause of a failure, or an
// empty text.
QString SyncToDisk(QFileDevice& file);
