#pragma once

// The serial devices this program's own transports hold open now, so that a look at the ports
// (the port doctor on Windows, where a held port does not open a second time) can tell the
// program's own port from one another program holds.

#include <QString>

void NoteDeviceOpened(const QString& device);
void NoteDeviceClosed(const QString& device);

// Whether a transport of this program holds the device open (names compared as the system
// does, without regard to letter case).
bool DeviceOpenHere(const QString& device);
