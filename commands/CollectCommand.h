#pragma once

// kv9000 --collect FLEET.tsv [--jobs N]: every controller of the fleet list collected, N at once
// (FleetCollection.h), each kept exactly as a download (archives folder, library) and the team's
// server synced once at the end when one is set. Ports are named as in the window (through the
// settings' [Ports] map), at the settings' speed. One collection runs on a machine at a time: a
// second one says that one is running (the process holding it) and ends.
//
// Answers: the table of FleetTable.h on standard output, most urgent first, exit 0 when every
// controller was collected, 1 otherwise (the list refused, a controller failed, another
// collection running). Bad lines of the list go to standard error with their line numbers; so
// does progress, while standard error is a terminal. The run is kept for the next collection
// and the library window (the state folder's fleet-last-run.tsv).
//
// With the team's server ([Library] Server=): kv9000 --fleet-push FLEET.tsv stores the list
// there (a list with a bad line is not stored), --fleet-pull prints it, and kv9000 --collect
// --team [--jobs N] collects the server's list, sharing the run with the other collectors
// (TeamFleet.h; [Library] Fleet lease= seconds). Each needs the server: none set or none
// reached is one line on standard error and exit 1.

#include "CommandLine.h"

int AnswerCollectCommand(const CommandLine& line, int& argc, char** argv);
