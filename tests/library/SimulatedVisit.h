#pragma once

// A service visit to the simulated controller: kv9000-sim serves its seeded history as it is at
// a moment (--at), the identity is read and the archive downloaded over the pseudo-terminal as
// the program does it, and the download is kept as an archive file under archivesFolder, named
// as the program names it.

#include "ArchiveFile.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

struct SimulatedVisit {
    int serial = 12345;
    int channels = 2;
    QString at;           // --at, e.g. "2024-03-01T10:00"
    int historySeed = -1; // --history-seed; -1: the serial number
    QString comment = QStringLiteral("Котельная");
};

// The kept file's path, or an empty text (with the cause in error) when the visit failed.
QString KeepSimulatedVisit(const SimulatedVisit& visit, const QString& archivesFolder,
                           QString& error);
