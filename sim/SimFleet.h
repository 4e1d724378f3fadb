#pragma once

// kv9000-sim --tcp HOST:PORT [--fleet N]: N simulated controllers in one process, each on a TCP
// port of its own (PORT, PORT + 1, ...), as device servers in front of a fleet would offer them.
// Controller i has the serial number --serial + i and its own history (seed --history-seed + i,
// or its serial number) at --at; everything else is as for one controller on a pseudo-terminal.
// Each port takes one connection at a time and is served again when the program closes it.

#include "SimController.h"
#include "SimOptions.h"

#include <QByteArray>

#include <csignal>
#include <functional>

namespace sim {

// Listens on every port, prints "tcp://HOST:PORT" per controller (one line each, in order), then
// serves until stop becomes nonzero. The stop signals must be blocked by the caller; waitMask
// lets them through while a controller waits. Returns the exit code: 2 when a port cannot be
// listened on.
// archiveFor gives the archive of the controller with index i (0 to N - 1).
// The identity of the fleet's controller i: the options' own, with the serial number --serial + i.
Identity FleetIdentity(const SimOptions& options, int index);

int ServeFleet(const SimOptions& options, const std::function<QByteArray(int)>& archiveFor,
               volatile std::sig_atomic_t& stop, const sigset_t& waitMask);

} // namespace sim
