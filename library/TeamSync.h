#pragma once

// The team library: the kept downloads of every engineer on a PostgreSQL server, each download
// once, named by the SHA-256 of its archive image (docs/library.sql). A sync sends every local
// download the server lacks (the whole archive file) and fetches every download the server has
// and this machine lacks into the archives folder, where it is indexed.
//
// Each download goes up or comes down in a statement of its own, so a connection lost midway
// leaves both sides consistent (a download is on the server whole or not at all; a fetched file
// is written atomically and indexed), and the next sync completes the rest. The same image sent
// by two people is one download. A role that may only read pulls and says that sending was
// refused. The server's schema is created on first use when the role may; a newer one is
// refused, and so is a version that is no number (another program's table). A row larger than
// an archive file can be is refused by its size, without fetching it. The counts count each
// download once: what another engineer sent or this machine kept meanwhile is not counted.

#include "TeamServer.h"

#include <QString>
#include <QStringList>

#include <functional>

class LibraryIndex;

struct SyncReport {
    int sent = 0;                // downloads this machine sent
    int received = 0;            // downloads fetched from the server
    int onServer = 0;            // downloads on the server after the sync
    bool sendingRefused = false; // the role may not write; nothing was sent
    QString error;     // the sync stopped: the server unreachable, a refused login, a lost
                       // connection, a newer schema; empty when it completed
    QStringList notes; // single downloads skipped, each with its cause
};

struct SyncHooks {
    // Called after each download sent or fetched (tests cut the connection here).
    std::function<void()> afterTransfer;
};

// Syncs index (and archivesFolder, where fetched files go) with the server given by a libpq
// connection string in keyword=value form. Only one sync of the same archives folder runs at a
// time; a second one is refused at once.
SyncReport SyncWithServer(LibraryIndex& index, const QString& archivesFolder, const QString& server,
                          const SyncHooks& hooks = {});

// What a sync did, in one or two lines for the user.
QString FormatSyncReport(const SyncReport& report);
