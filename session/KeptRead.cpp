#include "KeptRead.h"

#include "ServiceSession.h"

#include <QCoreApplication>

KeptRead KeepCompletedRead(const QString& archivesFolder, const ControllerRead& read,
                           const QString& portLabel, const QDateTime& now,
                           std::optional<int> blocksRead) {
    ServiceSession session(archivesFolder);
    KeptRead kept;
    kept.error = QStringLiteral("запись не завершилась");
    QObject::connect(&session, &ServiceSession::SaveFinished, &session,
                     [&kept](const QString& path, const QString& error) {
                         kept.path = error.isEmpty() ? path : QString();
                         kept.error = error;
                     });
    ServiceSession::KeptDownload download = session.KeepRead(read, portLabel, now, blocksRead);
    session.WaitForSaves();
    // SaveFinished is queued to this thread.
    QCoreApplication::sendPostedEvents(&session, QEvent::MetaCall);
    kept.contents = std::move(download.contents);
    kept.anotherController = download.anotherController;
    return kept;
}
