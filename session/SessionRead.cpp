#include "SessionRead.h"

#include "BlocksReadText.h"
#include "IdentityCommands.h"
#include "NewRecordsRead.h"

#include <QDateTime>

namespace {

DownloadResult ReadWhole(FrameLink& link, const SessionReadHooks& hooks) {
    DownloadHooks whole = PassedHooks<DownloadHooks>(hooks);
    if (hooks.onProgress)
        whole.onProgress = [&hooks](int offset) { hooks.onProgress(offset, ArchiveSize); };
    return DownloadArchive(link, whole);
}

DownloadResult ReadNew(const ServiceSession& session, FrameLink& link,
                       const SessionReadHooks& hooks, std::uint64_t sampleSeed, SessionRead& read) {
    NewRecordsDownloadHooks only = PassedHooks<NewRecordsDownloadHooks>(hooks);
    only.onBlocks = hooks.onProgress;
    only.onWholeRead = hooks.onWholeRead;
    const EarlierDownload earlier =
        FindEarlierDownload(session.KeptFolder(), session.LastRead().serial,
                            session.ControllerChannels(), session.LastIdentification());
    NewRecordsDownloadResult result = DownloadNewRecords(
        link, earlier.image, session.ControllerChannels(), earlier.cause, only, sampleSeed);
    read.wholeReadCause = result.wholeReadCause;
    if (result.wholeReadCause.isEmpty())
        read.blocksRead = result.blocksRead;
    return std::move(result.download);
}

} // namespace

SessionRead ReadIntoSession(ServiceSession& session, FrameLink& link, SessionReadKind kind,
                            const QString& port, const SessionReadHooks& hooks,
                            std::uint64_t sampleSeed) {
    SessionRead read;
    const DownloadResult download = kind == SessionReadKind::WholeArchive
                                        ? ReadWhole(link, hooks)
                                        : ReadNew(session, link, hooks, sampleSeed, read);
    read.outcome = download.outcome;
    if (download.outcome != DownloadOutcome::Completed) {
        read.blocksRead.reset();
        return read;
    }
    // Asked after the last block, so that a moved cable cannot put the archive under the
    // controller read before.
    const ControllerOnLine onLine = ReadControllerOnLine(link);
    read.kept = session.KeepDownload(download.image, port, onLine, QDateTime::currentDateTime(),
                                     read.blocksRead);
    return read;
}

QString SessionReadNotice(const SessionRead& read) {
    if (read.kept.anotherController) {
        const ArchiveFileContents& kept = read.kept.contents;
        const QString serial =
            kept.serial ? QString::number(*kept.serial) : QStringLiteral("неизвестен");
        return QStringLiteral("На линии другой регулятор (серийный номер %1, %2): загруженный "
                              "архив сохранён под ним. Прочитайте данные регулятора, чтобы "
                              "увидеть его.")
            .arg(serial, kept.identification);
    }
    if (read.blocksRead)
        return QStringLiteral("Новые записи: %1").arg(BlocksReadText(read.blocksRead));
    if (!read.wholeReadCause.isEmpty())
        return QStringLiteral("Прочитан весь архив: %1").arg(read.wholeReadCause);
    return {};
}
