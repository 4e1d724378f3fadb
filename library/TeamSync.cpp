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

// One sync over an open connection: both sides' lists, then up, then down. A failure that stops
// it is the report's error; a download skipped is a note.
class Sync {
public:
    Sync(LibraryIndex& index, const QString& archivesFolder, const TeamServer& connection,
         const SyncHooks& hooks, SyncReport& report)
        : index_(index), archivesFolder_(archivesFolder), connection_(connection),
          db_(connection.Database()), hooks_(hooks), report_(report), send_(db_), fetch_(db_) {}

    void Run() {
        ReadLists();
        // Up: every local download the server lacks.
        for (auto it = local_.cbegin(); report_.error.isEmpty() && it != local_.cend(); ++it)
            if (!remote_.contains(*it) && !Send(*it))
                break;
        // Down: every download the server has and this machine lacks.
        for (auto it = remote_.cbegin(); report_.error.isEmpty() && it != remote_.cend(); ++it)
            if (!Fetch(it.key(), it.value()))
                break;
        report_.onServer = static_cast<int>(remote_.size());
    }

private:
    void ReadLists() {
        QSqlQuery q(db_);
        // Each download's size comes with the list, so that a row larger than any archive file
        // is refused without fetching it (octet_length reads no contents).
        {
            const TeamServer::Bound bound = connection_.Bounded();
            if (!q.exec(
                    QStringLiteral("SELECT sha256, octet_length(contents) FROM kv_downloads"))) {
                report_.error = connection_.LostText(q.lastError());
            } else {
                while (q.next())
                    remote_.insert(q.value(0).toByteArray(), q.value(1).toLongLong());
            }
            q.finish();
        }
        // An index that cannot be read stops the sync: taken for an empty one, it would fetch
        // every download again.
        const IndexRead<QStringList> known = index_.KnownSha256();
        if (known.Failed())
            report_.error = known.error;
        for (const QString& hex : known)
            local_.insert(QByteArray::fromHex(hex.toLatin1()));
    }

    // Sends one local download; false when the sync goes on no further.
    bool Send(const QByteArray& sha) {
        const IndexRead<std::optional<LibraryVisit>> visit = index_.VisitBySha(sha);
        if (visit.Failed()) {
            report_.error = visit.error;
            return false;
        }
        if (!visit.has_value())
            return true;
        const QString shown = QDir::toNativeSeparators(visit->file);
        QFile file(visit->file);
        if (!file.open(QIODevice::ReadOnly)) {
            report_.notes << QStringLiteral("%1: не читается, не отправлен").arg(shown);
            return true;
        }
        const QByteArray bytes = file.readAll();
        const ArchiveFileReadResult read = DecodeArchiveFile(bytes);
        if (!read.contents || read.imageSha256 != sha) {
            report_.notes << QStringLiteral("%1: файл изменился с тех пор, как попал в индекс; не "
                                            "отправлен")
                                 .arg(shown);
            return true;
        }
        // The file says whether the time is known; a time not known is NULL on the server, never
        // the epoch.
        const QDateTime at = read.contents->downloadedAt;
        const QString insert =
            QStringLiteral("INSERT INTO kv_downloads(sha256, serial, downloaded_at, file_name, "
                           "contents) VALUES(%1, %2, %3, %4, %5) ON CONFLICT (sha256) DO NOTHING")
                .arg(Literal(db_, sha), Literal(db_, visit->serial),
                     Literal(db_, at.isValid() ? QVariant(at)
                                               : QVariant(QMetaType::fromType<QDateTime>())),
                     Literal(db_, QFileInfo(visit->file).fileName()), Literal(db_, bytes));
        // The statement carries the bytes as hexadecimal text.
        const TeamServer::Bound bound = connection_.Bounded(TransferAllowance(insert.size()));
        if (!send_.exec(insert)) {
            if (PrivilegeRefused(send_.lastError())) {
                report_.sendingRefused = true;
                return false;
            }
            if (UnknownTimeRefused(send_.lastError())) {
                report_.notes << QStringLiteral("%1: время загрузки не известно, а библиотека на "
                                                "сервере его требует (обновите её по "
                                                "docs/library.sql); не отправлен")
                                     .arg(shown);
                return true;
            }
            report_.error = connection_.LostText(send_.lastError());
            return false;
        }
        // Another engineer may have sent the same image a moment ago: then it is theirs.
        const bool inserted = send_.numRowsAffected() == 1;
        send_.finish();
        remote_.insert(sha, bytes.size());
        if (!inserted)
            return true;
        ++report_.sent;
        if (hooks_.afterTransfer)
            hooks_.afterTransfer();
        return true;
    }

    // The bytes of a download on the server; false (the report's error set) when lost.
    bool FetchBytes(const QByteArray& sha, qint64 size, QByteArray& bytes) {
        // The bytes come as hexadecimal text: twice their number.
        const TeamServer::Bound bound = connection_.Bounded(TransferAllowance(2 * size));
        if (!fetch_.exec(QStringLiteral("SELECT contents FROM kv_downloads WHERE sha256 = ") +
                         Literal(db_, sha)) ||
            !fetch_.next()) {
            report_.error = connection_.LostText(fetch_.lastError());
            return false;
        }
        bytes = fetch_.value(0).toByteArray();
        fetch_.finish();
        return true;
    }

    // Fetches one download of the server of size bytes; false when the sync goes on no further.
    bool Fetch(const QByteArray& sha, qint64 size) {
        // Known since the list was read: indexed meanwhile by a download kept here.
        if (local_.contains(sha))
            return true;
        const IndexRead<std::optional<LibraryVisit>> meanwhile = index_.VisitBySha(sha);
        if (meanwhile.Failed()) {
            report_.error = meanwhile.error;
            return false;
        }
        if (meanwhile.has_value())
            return true;
        const QString shortSha = QString::fromLatin1(sha.toHex().left(12));
        if (size > ArchiveFileSizeLimit) {
            report_.notes << QStringLiteral("загрузка %1 на сервере больше любого файла архива "
                                            "(%2 байт); не получена")
                                 .arg(shortSha)
                                 .arg(size);
            return true;
        }
        QByteArray bytes;
        if (!FetchBytes(sha, size, bytes))
            return false;
        const ArchiveFileReadResult read = DecodeArchiveFile(bytes);
        if (!read.contents || read.rawImage || !read.contents->serial || read.imageSha256 != sha) {
            report_.notes << QStringLiteral("загрузка %1 на сервере повреждена: %2")
                                 .arg(shortSha, read.error.isEmpty()
                                                    ? QStringLiteral("не тот образ")
                                                    : read.error);
            return true;
        }
        // Kept as a download is: under a name of its own, never replacing a file.
        QString path;
        const QString written =
            KeepArchiveFile(archivesFolder_, *read.contents, &path,
                            read.compressed ? KeptEncoding::Compressed : KeptEncoding::Plain);
        if (!written.isEmpty()) {
            report_.error = QStringLiteral("архив не записан в папку %1: %2")
                                .arg(QDir::toNativeSeparators(archivesFolder_), written);
            return false;
        }
        const AddResult added = index_.AddFile(path);
        if (added.outcome == AddOutcome::Refused) {
            report_.error = QStringLiteral("архив %1 не внесён в индекс: %2")
                                .arg(QDir::toNativeSeparators(path), added.error);
            return false;
        }
        local_.insert(sha);
        if (added.outcome == AddOutcome::AlreadyThere) {
            // Kept here meanwhile under another name: one file of each download (unless that
            // file was gone and the index now names this one).
            const std::optional<LibraryVisit> known = index_.VisitBySha(sha);
            if (known && QFileInfo(known->file) != QFileInfo(path))
                QFile::remove(path);
            return true;
        }
        ++report_.received;
        if (hooks_.afterTransfer)
            hooks_.afterTransfer();
        return true;
    }

    LibraryIndex& index_;
    const QString& archivesFolder_;
    const TeamServer& connection_;
    QSqlDatabase db_;
    const SyncHooks& hooks_;
    SyncReport& report_;
    QSqlQuery send_, fetch_;
    QHash<QByteArray, qint64> remote_; // the server's downloads and their sizes
    QSet<QByteArray> local_;           // this machine's
};

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

    const TeamServer connection(server);
    report.error = connection.Error();
    if (report.error.isEmpty())
        Sync(index, archivesFolder, connection, hooks, report).Run();
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
