#pragma once

// When the controller starts to overwrite records nobody has read yet. After a download, the
// records logged from then on go round the ring behind the newest record read; they are lost when
// the write position comes round to them again: the newest record read plus the memory's record
// count per channel times the logging interval, less the erased run the controller keeps ahead of
// its write position (it erases flash before writing into it). The channel that overwrites first
// decides.

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// The longest run of erased records taken as the one kept ahead of the write position: one flash
// sector (4 KB). A longer run after the newest record is memory never written yet (a ring that
// has not come round once), which loses nothing sooner.
constexpr int ErasedRunLimit = 4096 / 32;

// The moment (record time: the controller's wall clock as UTC, seconds) from which records not
// yet read are overwritten, from an image laid out for channelCount (1 or 2) channels; nothing
// when no channel has records whose logging interval can be learned.
std::optional<qint64> OverwriteFrom(const QByteArray& image, int channelCount);

// Days from asOf until overwriteFrom (both record times), negative when records are already lost.
double DaysUntil(qint64 overwriteFrom, qint64 asOf);
