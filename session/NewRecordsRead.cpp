#include "NewRecordsRead.h"

#include "ArchiveDecoder.h"
#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "ChartSeries.h"
#include "Cp1251.h"
#include "RecordBytes.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <limits>
#include <utility>

namespace {

// The newest record of an image (the controller's clock, either channel); none when it has none.
std::optional<qint64> NewestRecord(const QByteArray& image, int channelCount) {
    const ArchiveGeometry geometry = GeometryFor(channelCount);
    if (geometry.recordCount == 0 || image.size() < ArchiveSize)
        return std::nullopt;
    std::optional<qint64> newest;
    for (int channel = 0; channel < channelCount; ++channel)
        for (int slot = 0; slot < geometry.recordCount; ++slot) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(image.constData()) +
                            static_cast<qsizetype>(channel) * geometry.channelBlockSize +
                            static_cast<qsizetype>(slot) * ArchiveRecordSize;
            if (UInt32At(p, 28) != DataRecordMarker)
                continue;
            const std::optional<long long> time = ChartRecordTime(p);
            if (time && (!newest || *time > *newest))
                newest = *time;
        }
    return newest;
}

// Where a kept file's name puts it among the kept files: its download's time, then the order of
// the downloads kept in that one second ("_2", "_3" ... "_10" as numbers).
std::pair<QString, int> KeptOrder(const QString& fileName) {
    static const QRegularExpression suffix(QStringLiteral("^(.*)_([0-9]+)$"));
    const QString base = QFileInfo(fileName).completeBaseName();
    if (const QRegularExpressionMatch m = suffix.match(base); m.hasMatch())
        return {m.captured(1), m.captured(2).toInt()};
    return {base, 1};
}

struct KeptCandidate {
    QString path;
    ArchiveFileContents contents;
    std::optional<qint64> newest; // its newest record
    std::pair<QString, int> kept; // KeptOrder of its name
};

// Whether a holds a later state of the controller's memory than b: its newest record is newer;
// of the same newest record (nothing logged between them), the one kept later.
bool LaterMemory(const KeptCandidate& a, const KeptCandidate& b) {
    if (a.newest != b.newest)
        return a.newest.value_or(std::numeric_limits<qint64>::min()) >
               b.newest.value_or(std::numeric_limits<qint64>::min());
    return a.kept > b.kept;
}

} // namespace

EarlierDownload FindEarlierDownload(const QString& archivesFolder,
                                    std::optional<std::uint16_t> serial, int channelCount,
                                    const QString& identification) {
    EarlierDownload earlier;
    if (!serial) {
        earlier.cause = QStringLiteral("серийный номер регулятора не прочитан");
        return earlier;
    }
    // Which download is the newest is the controller's memory's to say, never the computer's
    // clock (the names' time): several downloads can be kept in one second, and a clock set back
    // names a later download before an earlier one.
    const QDir folder(QDir(archivesFolder).filePath(QString::number(*serial)));
    std::optional<KeptCandidate> usable, newest;
    for (const QString& name : folder.entryList({QStringLiteral("*.kvarc")}, QDir::Files)) {
        const QString path = folder.filePath(name);
        ArchiveFileReadResult file = ReadArchiveFile(path);
        if (!file.contents || !file.contents->downloadedAt.isValid())
            continue; // a damaged file, or one of unknown time, is no start
        KeptCandidate candidate{path, std::move(*file.contents), std::nullopt, KeptOrder(name)};
        const ArchiveFileContents& c = candidate.contents;
        candidate.newest = NewestRecord(c.image, c.channelCount);
        const bool same = c.serial == serial && c.channelCount == channelCount &&
                          c.identification == identification;
        if (same && (!usable || LaterMemory(candidate, *usable)))
            usable = candidate;
        if (!newest || LaterMemory(candidate, *newest))
            newest = std::move(candidate);
    }
    if (usable) {
        earlier.path = usable->path;
        earlier.image = usable->contents.image;
        return earlier;
    }
    if (!newest) {
        earlier.cause = QStringLiteral("нет прежнего полного чтения этого регулятора");
        return earlier;
    }
    // None is of this controller as it answers now: the newest says why.
    const ArchiveFileContents& c = newest->contents;
    earlier.path = newest->path;
    if (c.serial != serial)
        earlier.cause = QStringLiteral("в прежнем чтении другой серийный номер");
    else if (c.channelCount != channelCount)
        earlier.cause =
            QStringLiteral("в прежнем чтении другое число каналов (%1)").arg(c.channelCount);
    else
        earlier.cause =
            QStringLiteral("в прежнем чтении другая идентификация («%1»)").arg(c.identification);
    return earlier;
}

NewRecordsControllerRead ReadControllerNewRecords(FrameLink& link, const Port& port, int speed,
                                                  const QString& archivesFolder,
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
    result.read = ReadController(link, port, speed, read);
    return result;
}
