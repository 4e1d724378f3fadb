#pragma once

// What the listener asks of the system about a modem's call (one platform file each side).

#include <QtGlobal>

// Turns on TCP keep-alive so that a call whose modem vanished without closing is noticed within
// five minutes when the modems send no heartbeat.
void KeepCallAlive(qintptr socket);

// The call's round trip as the system has measured it, in milliseconds; 0 when not known.
int CallRoundTripMs(qintptr socket);
