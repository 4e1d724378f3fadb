#pragma once

// What every part that opens ports takes from the settings and the user's folders, in one call,
// so that none of them forgets a piece: the "Ports" section as the link's port map, a number
// whose entry was refused kept from every device (SetPortMap), and the folder where ports on
// the network are held while they are read (SetDeviceHoldFolder: the state folder's "ports").

#include "SettingsFile.h"

#include <QStringList>

// Returns the refusals of "Ports" entries, one line each, for the caller to say.
QStringList UsePortSettings(const SettingsFile& settings);
