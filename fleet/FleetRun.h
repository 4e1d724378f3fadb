#pragma once

// A collection as the program runs it, from the command line or the library window: one at a time
// on a machine (a lock in the state folder; a second one is refused, naming the process that
// runs), the serial numbers kept for each port last time, each kept file added to the library as
// it comes, one quiet sync with the team's server at the end, and the run kept for the next one.
//
// Failures are results: a refusal (another collection runs, or the lock could not be written: a
// full disk is said as such), the controllers' own failures in their results, and what failed
// around them (the library, the sync, the kept run) as lines in problems; the kept files stay
// whatever those say. The kept run is replaced whole or not at all.

#include "FleetCollection.h"

#include <QString>
#include <QStringList>

#include <vector>

struct FleetRunPlaces {
    QString archivesFolder;
    QString stateFolder;      // the lock and the kept run
    QString libraryIndexPath; // the library the kept files are added to
    QString server;           // the team's server (a libpq string); empty: none
    // The controllers collected join the kept run: the other controllers' rows stay as they were
    // (a collection of a few, such as a modem's on its call), instead of the run replacing it.
    bool joinKeptRun = false;
};

struct FleetRunOutcome {
    QString refusal;                  // nothing was collected, and why
    std::vector<FleetResult> results; // most urgent first
    QStringList problems;
};

// options.archivesFolder and options.lastSerials are taken from places and the kept run; hooks
// are called on the caller's thread, problems as they happen. With claims, the controllers are
// the ones claims gives (a run shared with other collectors) instead of entries.
class FleetClaims;
FleetRunOutcome RunFleetCollection(const std::vector<FleetEntry>& entries, FleetOptions options,
                                   const FleetRunPlaces& places, const FleetHooks& hooks = {},
                                   FleetClaims* claims = nullptr);

// The last run kept in stateFolder (the table with each controller's address and name); empty
// when there is none.
QString KeptRunPath(const QString& stateFolder);
std::vector<FleetResult> ReadKeptRun(const QString& stateFolder);
