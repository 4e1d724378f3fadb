#pragma once

// Where a collection run from the command line keeps what it reads (the user's archives, state
// folder and library, and the team's server), and how it reaches the ports (the settings' port
// map and line speed): the same for --collect and for the listener's collections on a call.

#include "FleetCollection.h"
#include "FleetRun.h"
#include "PortMap.h"

class SettingsFile;

FleetRunPlaces UserFleetPlaces(const QString& server);
FleetOptions SettingsFleetOptions(const SettingsFile& settings, const PortMap& ports);
