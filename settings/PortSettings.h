#pragma once

// What every part that opens ports takes from the settings and the user's folders, in one call,
// so that none of them forgets a piece: the "Ports" section as a port map, a number whose entry
// was refused kept from every device, and the folder where ports on the network are held while
// they are read (the state folder's "ports"). The caller passes the map to what opens ports.

#include "PortMap.h"
#include "SettingsFile.h"

#include <QStringList>

struct PortSettings {
    PortMap ports;
    QStringList refused; // the refusals of "Ports" entries, one line each, for the caller to say
};

// systemDevices: which machine devices unmapped numbers get (empty: the machine's own).
PortSettings ReadPortSettings(const SettingsFile& settings,
                              PortMap::DeviceLister systemDevices = {});
