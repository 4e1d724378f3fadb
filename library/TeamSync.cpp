#include "TeamSync.h"

#include "ArchiveFile.h"
#include "LibraryIndex.h"
#include "ServerDriver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <atomic>

namespace {

std::atomic<int> connectionCounter{0};

const char* const kCreateSchema[] = {
    "SELECT pg_advisory_xact_lock(9000)",
    "CREATE TABLE IF NOT EXISTS kv_meta(key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "INSERT INTO kv_meta(key, value) VALUES('schema_version', '1') ON CONFLICT (key) DO NOTHING",
    "CREATE TABLE IF NOT EXISTS kv_downloads(sha256 BYTEA PRIMARY KEY, serial INTEGER NOT NULL, "
    "downloaded_at TIMESTAMPTZ NOT NULL, file_name TEXT NOT NULL, contents BYTEA NOT NULL, "
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
    const int version = q.value(0).toInt();
    if (version > ServerSchemaVersion)
        return QStringLiteral("библиотека на сервере более новой версии (схема %1, эта программа "
                              "знает схемы до %2); обновите программу")
            .arg(version)
            .arg(ServerSchemaVersion);
    return {};
}

QString Lost(const QSqlError& error) {
    return QStringLiteral("связь с сервером прервалась: %1").arg(error.text());
}

} // namespace

QString CheckServerString(const QString& server) {
    if (server.trimmed().isEmpty())
        return QStringLiteral("сервер не задан ([Library] Server= в файле настроек)");
    static const QRegularExpression password(QStringLiteral("(^|\\s)password\\s*="),
                                             QRegularExpression::CaseInsensitiveOption);
    if (password.match(server).hasMatch())
        return QStringLiteral("пароль в файле настроек не хранится: уберите password= из "
                              "[Library] Server= и запишите его в файл паролей ~/.pgpass или в "
                              "файл служб ~/.pg_service.conf");
    return {};
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
            db.setConnectOptions(server);
            if (!db.open()) {
                report.error = QStringLiteral("сервер недоступен или отказал во входе: %1")
                                   .arg(db.lastError().text().trimmed());
            } else {
                report.error = PrepareServerSchema(db);
            }
        }
        if (report.error.isEmpty()) {
            QSqlQuery q(db);
            QSet<QByteArray> remote;
            if (!q.exec(QStringLiteral("SELECT sha256 FROM kv_downloads"))) {
                report.error = Lost(q.lastError());
            } else {
                while (q.next())
                    remote.insert(q.value(0).toByteArray());
            }
            QSet<QByteArray> local;
            for (const QString& hex : index.KnownSha256())
                local.insert(QByteArray::fromHex(hex.toLatin1()));

            // Up: every local download the server lacks, oldest first.
            QSqlQuery send(db);
            send.prepare(QStringLiteral(
                "INSERT INTO kv_downloads(sha256, serial, downloaded_at, file_name, contents) "
                "VALUES(?, ?, ?, ?, ?) ON CONFLICT (sha256) DO NOTHING"));
            for (auto it = local.cbegin(); report.error.isEmpty() && it != local.cend(); ++it) {
                if (remote.contains(*it))
                    continue;
                const std::optional<LibraryVisit> visit = index.VisitBySha(*it);
                if (!visit)
                    continue;
                QFile file(visit->file);
                if (!file.open(QIODevice::ReadOnly)) {
                    report.notes << QStringLiteral("%1: не читается, не отправлен")
                                        .arg(QDir::toNativeSeparators(visit->file));
                    continue;
                }
                const QByteArray bytes = file.readAll();
                const ArchiveFileReadResult read = DecodeArchiveFile(bytes);
                if (!read.contents || ArchiveImageSha256(read.contents->image) != *it) {
                    report.notes << QStringLiteral("%1: файл изменился с тех пор, как попал в "
                                                   "индекс; не отправлен")
                                        .arg(QDir::toNativeSeparators(visit->file));
                    continue;
                }
                send.addBindValue(*it);
                send.addBindValue(visit->serial);
                send.addBindValue(visit->downloadedAt);
                send.addBindValue(QFileInfo(visit->file).fileName());
                send.addBindValue(bytes);
                if (!send.exec()) {
                    if (PrivilegeRefused(send.lastError())) {
                        report.sendingRefused = true;
                        break;
                    }
                    report.error = Lost(send.lastError());
                    break;
                }
                remote.insert(*it);
                ++report.sent;
                if (hooks.afterTransfer)
                    hooks.afterTransfer();
            }

            // Down: every download the server has and this machine lacks.
            QSqlQuery fetch(db);
            fetch.prepare(QStringLiteral("SELECT contents FROM kv_downloads WHERE sha256 = ?"));
            for (auto it = remote.cbegin(); report.error.isEmpty() && it != remote.cend(); ++it) {
                if (local.contains(*it))
                    continue;
                fetch.addBindValue(*it);
                if (!fetch.exec() || !fetch.next()) {
                    report.error = Lost(fetch.lastError());
                    break;
                }
                const QByteArray bytes = fetch.value(0).toByteArray();
                fetch.finish();
                const ArchiveFileReadResult read = DecodeArchiveFile(bytes);
                if (!read.contents || read.rawImage || !read.contents->serial ||
                    ArchiveImageSha256(read.contents->image) != *it) {
                    report.notes << QStringLiteral("загрузка %1 на сервере повреждена: %2")
                                        .arg(QString::fromLatin1(it->toHex().left(12)),
                                             read.error.isEmpty() ? QStringLiteral("не тот образ")
                                                                  : read.error);
                    continue;
                }
                // Kept as a download is: never replacing a file kept in the same second.
                QString path;
                const QString written = KeepArchiveFile(archivesFolder, *read.contents, &path);
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
                local.insert(*it);
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
