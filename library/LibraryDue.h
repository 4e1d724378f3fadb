#pragma once

// Which controllers of the library are about to lose records nobody has read: for each, from its
// newest kept download, the moment from which its ring overwrites what was logged after that
// download (OverwriteFrom), for the library window and `kv9000 --due`.

#include "LibraryIndex.h"

#include <QString>

#include <optional>
#include <vector>

struct ControllerDue {
    LibraryController controller;
    std::optional<qint64> lastRecord;    // newest record of its newest kept download
    std::optional<qint64> overwriteFrom; // record time; none when it cannot be told
    QString problem; // why it cannot be told when the newest kept file does not read
};

// Every controller of the index with its overwrite moment, most urgent first (those that cannot
// be told last, then by serial number). A controller whose newest file is gone or damaged stays
// in the list with its problem; only a failure of the index itself fails the read.
IndexRead<std::vector<ControllerDue>> ControllersDue(const LibraryIndex& index);

// Now as a record time: this machine's wall clock taken as UTC, as the controller's clock is.
qint64 RecordTimeNow();

// `kv9000 --due`: one header line, then one line per controller in the order given, tab-separated:
// serial, place, channels, last_record, overwrite_from (YYYY-MM-DD HH:MM:SS, empty when not
// known), days_left (from asOf, a record time; one decimal with a point, negative when records
// are already being lost). Tabs and line breaks inside a text become spaces.
QString FormatDueTable(const std::vector<ControllerDue>& due, qint64 asOf);
