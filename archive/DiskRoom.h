#pragma once

// Whether a write failed for want of room: the system's own words for a full disk are often
// "Unknown error", "disk I/O error" or nothing, so the disk is asked how much it has left.

#include <QString>

// "диск заполнен (свободно N байт)" when the disk of folder (of its nearest existing parent while
// folder is not there) has less than needed bytes free, or less than one of its blocks; an empty
// text when it has room or cannot be asked.
QString NoRoomCause(const QString& folder, qint64 needed = 0);
