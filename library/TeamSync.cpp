#include "TeamSync.h"

#include "ArchiveFile.h"
#include "LibraryIndex.h"
#include "ServerDriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>

#include <atomic>

namespace {

std::atomic<int> connectionCounter{0};

const char* const kCreateSchema[] = {
    "SELECT pg_advisory_xact_lock(9000)",
    "CREATE TABLE IF NOT EXISTS kv_meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "INSERT INTO kv_meta(key, value) VALUES('schema_version', '1') ON CONFLICT (key) DO NOTHING",
    "CREATE TABLE IF NOT EXISTS kv_downloads(sha256 BYTEA PRIMARY KEY, serial INTEGER NOT NULL, "
    "downloaded_at TIMESTAMPTZ, file_name TEXT NOT NULL, contents BYTEA NOT NULL, "
    "sent_by TEXT NOT NULL DEFAULT current_user, sent_at TIMESTAMPTZ NOT NULL DEFAULT now())",
};

// SQLSTATE 42501: the role lacks the privilege.
bool PrivilegeRefused(const QSqlError& error) {
    return error.nativeErrorCode() == QLatin1String("42501");
}

// The server's schema: created when missing (and the role may), its version checked. Returns the
// cause of a refusal or an empty text.
QString PrepareServerSchema(QSqlDatabase& db) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT to_regclass('kv_meta') IS NOT NULL, "
                               "to_regclass('kv_downloads') IS NOT NULL")) ||
        !q.next())
        return QStringLiteral("сервер не отвечает на запросы: %1").arg(q.lastError().text());
    if (!q.value(0).toBool() || !q.value(1).toBool()) {
        q.finish();
        if (!db.transaction())
            return QStringLiteral("сервер: %1").arg(db.lastError().text());
        for (const char* sql : kCreateSchema)
            if (!q.exec(QString::fromUtf8(sql))) {
                const QSqlError error = q.lastError();
                db.rollback();
                return PrivilegeRefused(error)
                           ? QStringLiteral("на сервере нет библиотеки, а создать её этой роли "
                                            "не разрешено (её создаёт администратор по "
                                            "docs/library.sql)")
                           : QStringLiteral("библиотека на сервере не создана: %1")
                                 .arg(error.text());
            }
        if (!db.commit())
            return QStringLiteral("библиотека на сервере не создана: %1")
                .arg(db.lastError().text());
    }
    if (!q.exec(QStringLiteral("SELECT value FROM kv_meta WHERE key = 'schema_version'")) ||
        !q.next())
        return QStringLiteral("версия библиотеки на сервере не читается: %1")
            .arg(q.lastError().text());
    // Anything but a whole number is another program's table of the same name: never written.
    bool number = false;
    const int version = q.value(0).toString().toInt(&number);
    if (!number || version < 1)
        return QStringLiteral("на сервере чужая таблица kv_meta (версия схемы «%1» — не версия "
                              "библиотеки); в неё ничего не записано")
            .arg(q.value(0).toString().left(20));
    if (version > ServerSchemaVersion)
        return QStringLiteral("библиотека на сервере более новой версии (схема %1, эта программа "
                              "знает схемы до %2); обновите программу")
            .arg(version)
            .arg(ServerSchemaVersion);
    // A library created before downloads of unknown time were sent requires the time. The
    // column is relaxed where the role owns the table (older programs never read it); where it
    // may not, such downloads stay on this machine (UnknownTimeRefused).
    if (!q.exec(QStringLiteral("SELECT attnotnull FROM pg_attribute WHERE attrelid = "
                               "'kv_downloads'::regclass AND attname = 'downloaded_at'")) ||
        !q.next())
        return QStringLiteral("библиотека на сервере не читается: %1").arg(q.lastError().text());
    const bool timeRequired = q.value(0).toBool();
    q.finish();
    if (timeRequired)
        q.exec(QStringLiteral("ALTER TABLE kv_downloads ALTER COLUMN downloaded_at DROP NOT NULL"));
    return {};
}

// SQLSTATE 23502: a NULL where the server's table requires a value.
bool UnknownTimeRefused(const QSqlError& error) {
    return error.nativeErrorCode() == QLatin1String("23502");
}

// A value as an SQL literal, escaped by the driver. Statements go to the server whole instead of
// prepared: a prepared statement is freed on the server when its query goes, and after a lost
// connection Qt could only warn on standard error that it was not.
QString Literal(const QSqlDatabase& db, const QVariant& value) {
    QSqlField field(QString(), value.metaType());
    field.setValue(value);
    return db.driver()->formatValue(field);
}

QString Lost(const QSqlError& error) {
    return QStringLiteral("связь с сервером прервалась: %1").arg(error.text());
}

// The string as Qt gives it to libpq: Qt takes ';' as a separator too and turns it into a space.
// The check reads this form, and the connection is given it, so that both see the same pairs.
QString ConnectOptions(const QString& server) {
    return QString(server).replace(u';', u' ');
}

} // namespace

QString CheckServerString(const QString& server) {
    if (server.trimmed().isEmpty())
        return QStringLiteral("сервер не задан ([Library] Server= в файле настроек)");
    return ServerStringRefusal(ConnectOptions(server));
}

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
        report.error = lock.error() == QLockFile::LockFailedError
                           ? QStringLiteral("синхронизация уже идёт (в другом окне программы)")
                           : QStringLiteral("папка архивов %1 недоступна для записи")
                                 .arg(QDir::toNativeSeparators(archivesFolder));
        return report;
    }
    // Files kept while no index could be written are known before anything is fetched, so that
    // nothing is fetched twice.
    index.CatchUp(archivesFolder);

    const QString name = QStringLiteral("kvteam-%1").arg(connectionCounter.fetch_add(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        if (!db.isValid()) {
            report.error = MissingServerDriverText();
        } else {
            db.setConnectOptions(ConnectOptions(server));
            if (!db.open()) {
                report.error = QStringLiteral("сервер недоступен или отказал во входе: %1")
                                   .arg(db.lastError().text().trimmed());
            } else {
                QuietServerNotices(db);
                report.error = PrepareServerSchema(db);
            }
        }
        if (report.error.isEmpty()) {
            QSqlQuery q(db);
            // Each download's size comes with the list, so that a row larger than any archive
            // file is refused without fetching it (octet_length reads no contents).
            QHash<QByteArray, qint64> remote;
            if (!q.exec(
                    QStringLiteral("SELECT sha256, octet_length(contents) FROM kv_downloads"))) {
                report.error = Lost(q.lastError());
            } else {
                while (q.next())
                    remote.insert(q.value(0).toByteArray(), q.value(1).toLongLong());
            }
            q.finish();
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
                    report.error = Lost(send.lastError());
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
                if (!fetch.exec(
                        QStringLiteral("SELECT contents FROM kv_downloads WHERE sha256 = ") +
                        Literal(db, sha)) ||
                    !fetch.next()) {
                    report.error = Lost(fetch.lastError());
                    break;
                }
                const QByteArray bytes = fetch.value(0).toByteArray();
                fetch.finish();
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
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
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
