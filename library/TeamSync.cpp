#include "TeamSync.h"

#include "ArchiveFile.h"
#include "DiskRoom.h"
#include "LibraryIndex.h"
#include "TeamServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// SQLSTATE 23502: a NULL where the server's table requires a value.
bool UnknownTimeRefused(const QSqlError& error) {
    return error.nativeErrorCode() == QLatin1String("23502");
}

} // namespace

SyncReport SyncWithServer(LibraryIndex& index, const QString& archivesFolder, const QString& server,
                          const SyncHooks& hooks) {
    SyncReport report;
    report.error = CheckServerString(server);
    if (!report.error.isEmpty())
        return report;
    if (!QDir().mkpath(archivesFolder)) {
        report.error = QStringLiteral("папка архивов %1 не создаётся")
                           .arg(QDir::toNativeSeparators(archivesFolder));
        return report;
    }
    QLockFile lock(archivesFolder + QStringLiteral("/.sync.lock"));
    if (!lock.tryLock(0)) {
        // A lock that could not be written is a full disk or a folder closed to writing.
        const QString noRoom = NoRoomCause(archivesFolder);
        report.error = lock.error() == QLockFile::LockFailedError
                           ? QStringLiteral("синхронизация уже идёт (в другом окне программы)")
                       : !noRoom.isEmpty()
                           ? QStringLiteral("папка архивов %1: %2")
                                 .arg(QDir::toNativeSeparators(archivesFolder), noRoom)
                           : QStringLiteral("папка архивов %1 недоступна для записи")
                                 .arg(QDir::toNativeSeparators(archivesFolder));
        return report;
    }
    // Files kept while no index could be written are known before anything is fetched, so that
    // nothing is fetched twice.
    index.CatchUp(archivesFolder);

    {
        const TeamServer connection(server);
        report.error = connection.Error();
        QSqlDatabase db = connection.Database();
        if (report.error.isEmpty()) {
            QSqlQuery q(db);
            // Each download's size comes with the list, so that a row larger than any archive
            // file is refused without fetching it (octet_length reads no contents).
            QHash<QByteArray, qint64> remote;
            {
                const TeamServer::Bound bound = connection.Bounded();
                if (!q.exec(QStringLiteral(
                        "SELECT sha256, octet_length(contents) FROM kv_downloads"))) {
                    report.error = connection.LostText(q.lastError());
                } else {
                    while (q.next())
                        remote.insert(q.value(0).toByteArray(), q.value(1).toLongLong());
                }
                q.finish();
            }
            // An index that cannot be read stops the sync: taken for an empty one, it would
            // fetch every download again.
            QSet<QByteArray> local;
            const IndexRead<QStringList> known = index.KnownSha256();
            if (known.Failed())
                report.error = known.error;
            for (const QString& hex : known)
                local.insert(QByteArray::fromHex(hex.toLatin1()));

            // Up: every local download the server lacks.
            QSqlQuery send(db);
            for (auto it = local.cbegin(); report.error.isEmpty() && it != local.cend(); ++it) {
                if (remote.contains(*it))
                    continue;
                const IndexRead<std::optional<LibraryVisit>> visit = index.VisitBySha(*it);
                if (visit.Failed()) {
                    report.error = visit.error;
                    break;
                }
                if (!visit.has_value())
                    continue;
                QFile file(visit->file);
                if (!file.open(QIODevice::ReadOnly)) {
                    report.notes << QStringLiteral("%1: не читается, не отправлен")
                                        .arg(QDir::toNativeSeparators(visit->file));
                    continue;
                }
                const QByteArray bytes = file.readAll();
                const ArchiveFileReadResult read = DecodeArchiveFile(bytes);
                if (!read.contents || read.imageSha256 != *it) {
                    report.notes << QStringLiteral("%1: файл изменился с тех пор, как попал в "
                                                   "индекс; не отправлен")
                                        .arg(QDir::toNativeSeparators(visit->file));
                    continue;
                }
                // The file says whether the time is known; a time not known is NULL on the
                // server, never the epoch.
                const QDateTime at = read.contents->downloadedAt;
                const QString insert =
                    QStringLiteral("INSERT INTO kv_downloads(sha256, serial, downloaded_at, "
                                   "file_name, contents) VALUES(%1, %2, %3, %4, %5) "
                                   "ON CONFLICT (sha256) DO NOTHING")
                        .arg(Literal(db, *it), Literal(db, visit->serial),
                             Literal(db, at.isValid() ? QVariant(at)
                                                      : QVariant(QMetaType::fromType<QDateTime>())),
                             Literal(db, QFileInfo(visit->file).fileName()), Literal(db, bytes));
                // The statement carries the bytes as hexadecimal text.
                const TeamServer::Bound bound =
                    connection.Bounded(TransferAllowance(insert.size()));
                if (!send.exec(insert)) {
                    if (PrivilegeRefused(send.lastError())) {
                        report.sendingRefused = true;
                        break;
                    }
                    if (UnknownTimeRefused(send.lastError())) {
                        report.notes << QStringLiteral("%1: время загрузки не известно, а "
                                                       "библиотека на сервере его требует "
                                                       "(обновите её по docs/library.sql); не "
                                                       "отправлен")
                                            .arg(QDir::toNativeSeparators(visit->file));
                        continue;
                    }
                    report.error = connection.LostText(send.lastError());
                    break;
                }
                // Another engineer may have sent the same image a moment ago: then it is theirs.
                const bool inserted = send.numRowsAffected() == 1;
                send.finish();
                remote.insert(*it, bytes.size());
                if (!inserted)
                    continue;
                ++report.sent;
                if (hooks.afterTransfer)
                    hooks.afterTransfer();
            }

            // Down: every download the server has and this machine lacks.
            QSqlQuery fetch(db);
            for (auto it = remote.cbegin(); report.error.isEmpty() && it != remote.cend(); ++it) {
                const QByteArray& sha = it.key();
                // Known since the list was read: indexed meanwhile by a download kept here.
                if (local.contains(sha))
                    continue;
                const IndexRead<std::optional<LibraryVisit>> meanwhile = index.VisitBySha(sha);
                if (meanwhile.Failed()) {
                    report.error = meanwhile.error;
                    break;
                }
                if (meanwhile.has_value())
                    continue;
                if (it.value() > ArchiveFileSizeLimit) {
                    report.notes << QStringLiteral("загрузка %1 на сервере больше любого файла "
                                                   "архива (%2 байт); не получена")
                                        .arg(QString::fromLatin1(sha.toHex().left(12)))
                                        .arg(it.value());
                    continue;
                }
                QByteArray bytes;
                {
                    // The bytes come as hexadecimal text: twice their number.
                    const TeamServer::Bound bound =
                        connection.Bounded(TransferAllowance(2 * it.value()));
                    if (!fetch.exec(
                            QStringLiteral("SELECT contents FROM kv_downloads WHERE sha256 = ") +
                            Literal(db, sha)) ||
                        !fetch.next()) {
                        report.error = connection.LostText(fetch.lastError());
                        break;
                    }
                    bytes = fetch.value(0).toByteArray();
                    fetch.finish();
                }
                const ArchiveFileReadResult read = DecodeArchiveFile(bytes);
                if (!read.contents || read.rawImage || !read.contents->serial ||
                    read.imageSha256 != sha) {
                    report.notes << QStringLiteral("загрузка %1 на сервере повреждена: %2")
                                        .arg(QString::fromLatin1(sha.toHex().left(12)),
                                             read.error.isEmpty() ? QStringLiteral("не тот образ")
                                                                  : read.error);
                    continue;
                }
                // Kept as a download is: under a name of its own, never replacing a file.
                QString path;
                const QString written = KeepArchiveFile(archivesFolder, *read.contents, &path,
                                                        read.compressed ? KeptEncoding::Compressed
                                                                        : KeptEncoding::Plain);
                if (!written.isEmpty()) {
                    report.error = QStringLiteral("архив не записан в папку %1: %2")
                                       .arg(QDir::toNativeSeparators(archivesFolder), written);
                    break;
                }
                const AddResult added = index.AddFile(path);
                if (added.outcome == AddOutcome::Refused) {
                    report.error = QStringLiteral("архив %1 не внесён в индекс: %2")
                                       .arg(QDir::toNativeSeparators(path), added.error);
                    break;
                }
                local.insert(sha);
                if (added.outcome == AddOutcome::AlreadyThere) {
                    // Kept here meanwhile under another name: one file of each download (unless
                    // that file was gone and the index now names this one).
                    const std::optional<LibraryVisit> known = index.VisitBySha(sha);
                    if (known && QFileInfo(known->file) != QFileInfo(path))
                        QFile::remove(path);
                    continue;
                }
                ++report.received;
                if (hooks.afterTransfer)
                    hooks.afterTransfer();
            }
            report.onServer = static_cast<int>(remote.size());
        }
    }
    return report;
}

QString FormatSyncReport(const SyncReport& report) {
    QString text = QStringLiteral("отправлено на сервер: %1, получено с сервера: %2")
                       .arg(report.sent)
                       .arg(report.received);
    if (report.sendingRefused)
        text += QStringLiteral("\nотправка отклонена сервером: этой роли разрешено только "
                               "чтение");
    for (const QString& note : report.notes)
        text += u'\n' + note;
    if (!report.error.isEmpty())
        text += QStringLiteral("\nсинхронизация не завершена: ") + report.error;
    return text;
}
