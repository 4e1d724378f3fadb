#pragma once

// Where a collection takes its controllers from when several collectors share one run: instead
// of the whole list at once, each controller is claimed before it is read and marked done with
// its outcome after, so that another collector never reads it too. Without one, a collection
// reads its own list (FleetCollection.h).
//
// Every call comes from the thread that runs the collection (CollectFleet's caller), never from
// its readers, and returns at once or after an exchange of bounded length with whoever keeps the
// claims (for the team's server, a statement or a connection attempt: TeamServer.h).

#include "FleetCollection.h"

class FleetClaims {
public:
    virtual ~FleetClaims() = default;

    enum class Answer {
        Claimed, // entry is this collector's to read now
        Wait,    // nothing free now, but others' controllers may come free (asked again later)
        End,     // nothing more for this collector
    };
    virtual Answer Next(FleetEntry& entry) = 0;
    // A claimed controller ended for good (kept, or failed after this collector's tries).
    virtual void Done(const FleetEntry& entry, const FleetResult& result) = 0;
    // Called about ten times a second while the collection runs: claims held are kept alive.
    virtual void Tick() = 0;
};
