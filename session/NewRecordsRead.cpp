#include "NewRecordsRead.h"

#include "ArchiveFile.h"
#include "Cp1251.h"

#include <QDir>
#include <QRandomGenerator>

EarlierDownload FindEarlierDownload(const QString& archivesFolder,
                                    std::optional<std::uint16_t> serial, int channelCount,
                                    const QString& identification) {
    EarlierDownload earlier;
    if (!serial) {
        earlier.cause = QStringLiteral("серийный номер регулятора не прочитан");
        return earlier;
    }
    const QDir folder(QDir(archivesFolder).filePath(QString::number(*serial)));
    const QStringList names =
        folder.entryList({QStringLiteral("*.kvarc")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString& name : names) {
        const QString path = folder.filePath(name);
        const ArchiveFileReadResult file = ReadArchiveFile(path);
        if (!file.contents || !file.contents->downloadedAt.isValid())
            continue; // a damaged file, or one of unknown time, is no start
        const ArchiveFileContents& c = *file.contents;
        earlier.path = path;
        if (c.serial != serial)
            earlier.cause = QStringLiteral("в прежнем чтении другой серийный номер");
        else if (c.channelCount != channelCount)
            earlier.cause =
                QStringLiteral("в прежнем чтении другое число каналов (%1)").arg(c.channelCount);
        else if (c.identification != identification)
            earlier.cause = QStringLiteral("в прежнем чтении другая идентификация («%1»)")
                                .arg(c.identification);
        else
            earlier.image = c.image;
        return earlier;
    }
    earlier.cause = QStringLiteral("нет прежнего полного чтения этого регулятора");
    return earlier;
}

namespace {

// The read of only the new records, its controller found by find (on a port or a device).
template <typename Find>
NewRecordsControllerRead ReadNewRecordsWith(const Find& find, const QString& archivesFolder,
                                            const NewRecordsDownloadHooks& hooks) {
    NewRecordsControllerRead result;
    ControllerReadHooks read;
    read.cancelled = hooks.cancelled;
    read.download = [&](FrameLink& on, const ControllerRead& sofar) {
        const EarlierDownload earlier =
            FindEarlierDownload(archivesFolder, sofar.identity.serial, sofar.found.channelCount,
                                FromCp1251(sofar.identity.lastReply));
        NewRecordsDownloadResult r =
            DownloadNewRecords(on, earlier.image, sofar.found.channelCount, earlier.cause, hooks,
                               QRandomGenerator::global()->generate64());
        result.blocksRead = r.blocksRead;
        result.wholeReadCause = r.wholeReadCause;
        return std::move(r.download);
    };
    result.read = find(read);
    return result;
}

} // namespace

NewRecordsControllerRead ReadControllerNewRecords(FrameLink& link, int n, int speed,
                                                  const QString& archivesFolder,
                                                  const NewRecordsDownloadHooks& hooks) {
    return ReadNewRecordsWith(
        [&](const ControllerReadHooks& read) { return ReadController(link, n, speed, read); },
        archivesFolder, hooks);
}

NewRecordsControllerRead ReadControllerNewRecordsAtDevice(FrameLink& link, const QString& device,
                                                          int speed, const QString& archivesFolder,
                                                          const NewRecordsDownloadHooks& hooks) {
    return ReadNewRecordsWith(
        [&](const ControllerReadHooks& read) {
            return ReadControllerAtDevice(link, device, speed, read);
        },
        archivesFolder, hooks);
}
