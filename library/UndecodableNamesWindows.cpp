#include "UndecodableNames.h"

// Windows keeps file names in UTF-16: Qt names every one of them.
QStringList UndecodableArchiveNamesBelow(const QString&) {
    return {};
}
