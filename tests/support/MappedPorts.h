#pragma once

// A port map in which only the given entries name devices: no real serial device of the machine
// is ever touched by a test.

#include "PortMap.h"

#include <map>

inline PortMap MappedPorts(const std::map<int, QString>& entries = {},
                           const std::map<int, QString>& refused = {}) {
    return PortMap(entries, refused, [] { return QStringList(); });
}
