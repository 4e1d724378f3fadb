#pragma once

// A port as one value, from where the user names it (the window's settings, --read, a fleet
// list, the port doctor) to the file a download is kept in: what the user wrote, what it names
// on this machine now, and how it is shown. Resolved once where the user's words come in, then
// passed down; whatever path reads a controller, its kept file names the port by Shown().

#include "PortMap.h"

#include <QString>

struct Port {
    // As the user wrote it, tidied: "COM5" (the number's usual spelling), "tcp://10.1.2.3:4001"
    // (the scheme in lower case), "/dev/ttyUSB0".
    QString named;
    int number = 0;  // n of "COM<n>"; 0 for a device or an address named as itself
    QString device;  // what it names now ("/dev/ttyUSB0", "tcp://…"); empty when nothing
    QString refusal; // why it names nothing although the settings have an entry for it
    // Where the device was reached, when its name does not say it: the address a modem called
    // in from ("203.0.113.7:51234"); set by the link that opened it.
    QString via;

    // "COM3"; a number that names a port on the network with the box's address, "COM5
    // (tcp://10.1.2.3:4001)"; a device or address named as itself as it is named; a modem that
    // called in with the address it called from, "dialin:KV0042 (203.0.113.7:51234)", "COM7
    // (dialin:KV0042, 203.0.113.7:51234)".
    QString Shown() const;
    bool NamesDevice() const { return !device.isEmpty(); }
};

// The port the user's words name, through the port map: "COM<n>" in any letter case is the
// map's device of n; a scheme and "://" is an address on the network; anything else a device path.
Port ResolvePort(const QString& named, const PortMap& ports);
// The port "COM<n>".
Port ResolvePort(int n, const PortMap& ports);
// A device or address named as itself (not through a number).
Port PortOfDevice(const QString& device);
