#pragma once

// The library as text for scripts and the office (`kv9000 --library`): one header line, then one
// line per controller, tab-separated, in serial-number order.

#include "LibraryIndex.h"

#include <QString>

#include <vector>

// Columns: serial, place, channels, visits, first, last (oldest and newest record time as
// YYYY-MM-DD HH:MM:SS, empty when there is none), records, lost_days (one decimal, a point),
// conflicts. Tabs and line breaks inside a text become spaces.
QString FormatLibraryTable(const std::vector<LibraryController>& controllers);

// A record time (seconds, the controller's wall clock as UTC) as YYYY-MM-DD HH:MM:SS.
QString FormatRecordTime(qint64 seconds);
