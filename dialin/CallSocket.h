#pragma once

// What the listener asks of the system about a modem's call (one platform file each side).

#include <QtGlobal>

// Turns on TCP keep-alive so that a call whose modem vanished without closing is noticed within
// five minutes when the modems send no heartbeat.
void KeepCallAlive(qintptr socket);

// The call's round trip as the system has measured it, in milliseconds; 0 when not known.
int CallRoundTripMs(qintptr socket);

// Every call holds a descriptor: raises this process's limit of open descriptors toward wanted,
// as far as the system lets it. The number it allows now (wanted where no such limit applies).
int DescriptorsAllowed(int wanted);
