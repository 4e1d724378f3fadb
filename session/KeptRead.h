#pragma once

// Keeping a completed read without a window (kv9000 --read, a collection of many controllers):
// the image becomes a new file in the archives folder exactly as a window download is kept
// (ServiceSession::KeepRead), and the call returns once the file is written. Any thread may call
// it, several at once; each call has a session of its own.

#include "ArchiveFile.h"
#include "ControllerRead.h"

#include <QDateTime>
#include <QString>

#include <optional>

struct KeptRead {
    QString path;  // the file written; empty when it could not be
    QString error; // why it could not be written; empty when it was
    ArchiveFileContents contents;
    // The controller that answered after the download is not the one read before it: the file
    // is kept under the one that answered.
    bool anotherController = false;
};

// portLabel: the port as the user names it ("COM3", "tcp://box:4001"); blocksRead: set for a
// read of only what changed.
KeptRead KeepCompletedRead(const QString& archivesFolder, const ControllerRead& read,
                           const QString& portLabel, const QDateTime& now,
                           std::optional<int> blocksRead);
