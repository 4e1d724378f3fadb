#pragma once

// kv9000-sim --dialin HOST:PORT --registration REG [--fleet N]: N serial-to-cellular modems in one
// process, each with a simulated controller behind it. A modem cannot be called: it calls
// HOST:PORT, names itself with its registration, then carries the office's requests to the
// controller and the answers back on that call, with its heartbeats among them. When the call is
// refused or drops, it calls again after a random pause. Modem i has the registration REG
// counted on by i, the serial number --serial + i and its own history, made on the first read.

#include "SimOptions.h"

#include <QByteArray>

#include <csignal>
#include <functional>

namespace sim {

// Prints "dialin:REG" per modem (one line each, in order), then calls and serves until stop
// becomes nonzero. The stop signals must be blocked by the caller; waitMask lets them through
// while a modem waits. Returns the exit code: 2 when HOST cannot be resolved.
// archiveFor gives the archive of the controller with index i (0 to N - 1); it is called from
// the modems' threads, each with its own i, when the controller's archive is first read.
int DialFleet(const SimOptions& options, const std::function<QByteArray(int)>& archiveFor,
              volatile std::sig_atomic_t& stop, const sigset_t& waitMask);

} // namespace sim
