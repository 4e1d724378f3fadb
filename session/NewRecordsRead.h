#pragma once

// Reading only the new records of the controller on a link ("Прочитать новые записи", kv9000
// --read COM<n> --new): as ReadController (find, identity, download, who is on the line after),
// but the download starts from the newest kept download of the same controller and reads only
// what changed (NewRecordsDownload.h). The whole archive is read instead, with the cause in one
// line, when no earlier download is kept, when the newest one is of another serial number,
// identification or channel count, or when the read has a doubt. Keeping the result is the
// session's, as for ReadController (ServiceSession::KeepRead keeps the blocks read).
//
// Failures are outcomes, as ReadController's: a run that fails midway gives no image.

#include "ControllerRead.h"
#include "NewRecordsDownload.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// The earlier download a read of only the new records starts from.
struct EarlierDownload {
    QByteArray image; // ArchiveSize bytes when usable; empty otherwise, with cause set
    QString path;     // the file it came from, when one was read
    QString cause;    // why there is none to start from, in one line
};

// The kept download in archivesFolder's folder of the serial number that holds the controller's
// newest memory: of the files of this serial number, channel count and identification, the one
// whose newest record (the controller's clock) is newest; of equal newest records, the one kept
// last. The computer's clock at each download never decides alone (downloads kept in one second,
// a clock set back). When no file is of this controller as it answers, the newest file's
// difference is the cause. Every kept file of the serial number is read.
EarlierDownload FindEarlierDownload(const QString& archivesFolder,
                                    std::optional<std::uint16_t> serial, int channelCount,
                                    const QString& identification);

// Reads the controller on the port as ReadController does, the download being a read of only the
// new records against the earlier download found in archivesFolder. read.download holds the
// whole image when Completed.
struct NewRecordsControllerRead {
    ControllerRead read;
    int blocksRead = 0;     // blocks taken from the controller (8,448 for a whole read)
    QString wholeReadCause; // empty when only the new records were read
};
NewRecordsControllerRead ReadControllerNewRecords(FrameLink& link, const Port& port, int speed,
                                                  const QString& archivesFolder,
                                                  const NewRecordsDownloadHooks& hooks = {});
