#pragma once

// The table a collection prints and keeps: one header line, then one controller a line,
// tab-separated, most urgent first:
//
//   port  serial  outcome  blocks  seconds  file
//
// outcome is "new" (only the new records read), "whole" (the whole archive) or "failed: <cause>";
// a controller other than the one kept for that port last time adds "; прежде на порту был
// регулятор <serial>". The run kept for the next collection (and the library window) has the
// list's address and name as two more columns, and a failed controller's serial number as it was
// known before (so that the next collection still knows who was on the port).

#include "FleetCollection.h"

#include <QByteArray>
#include <QString>

#include <vector>

// Failed controllers first (nothing of them was read), then those that start losing records
// soonest, then those whose moment cannot be told; the list's order among equals.
std::vector<FleetResult> MostUrgentFirst(std::vector<FleetResult> results);

QString FleetOutcomeText(const FleetResult& result);

// The outcome in a window's words: an outcome text of the table (FleetOutcomeText, or the kept
// run's as it was printed) with its code said in Russian: "новые записи", "весь архив",
// "не собран: <cause>"; the rest (the controller kept before on the port) as it is. A text that
// starts with no code is given back unchanged.
QString FleetOutcomeWords(const QString& outcomeText);

// The printed table (six columns), or the kept run (eight) when withEntry.
QString FormatFleetTable(const std::vector<FleetResult>& results, bool withEntry = false);

// A kept run read back (its rows in its order; outcome, blocks and file as text in cause and
// file); rows it cannot read are left out. The serial numbers of a run are what the next
// collection compares with (FleetOptions::lastSerials).
std::vector<FleetResult> ParseKeptRun(const QByteArray& text);
std::map<std::pair<QString, int>, std::uint16_t> LastSerials(const std::vector<FleetResult>& run);
