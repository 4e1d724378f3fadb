#pragma once

// One controller's whole life as the simulator plays it for --at: the controller has logged a
// record every 30 minutes since the start of its history, into a ring of records per channel
// that overwrites its oldest records, erasing a 4 KB sector ahead of the write position. The
// archive at a moment is what that ring holds then, so that two visits to the same controller
// overlap exactly as its memory would, and a long gap between them loses what was overwritten.
//
// Every record's values follow from (history seed, channel, record number) alone: the same record
// read at two visits has the same bytes. Another seed is another controller (e.g. a replaced one
// given the same serial number): the same record times with other contents.

#include <QByteArray>
#include <QDateTime>

#include <cstdint>

namespace sim {

constexpr qint64 kHistoryLogInterval = 30 * 60; // seconds between records

// The first record's time (the controller's wall clock): 2020-01-01 00:00.
QDateTime HistoryStart();

// The archive of a controller with the given channel count (1 or 2) at the moment at (wall
// clock, taken as UTC), which must not be before HistoryStart(). Records fall on every half hour;
// a few short power cuts leave records unwritten; every channel ends with its four most recent
// settings blocks (the settings change every 45 days). clockBackDays: the controller's clock was
// set back that many days a day before at, so that the records of that last day carry times
// that many days earlier.
QByteArray HistoryArchiveAt(int channels, std::uint32_t seed, const QDateTime& at,
                            int clockBackDays = 0);

} // namespace sim
