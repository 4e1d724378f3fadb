#include "LibrarySchema.h"

#include "IndexErrors.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <vector>

namespace {

// Step n brings version n to version n + 1. Version 0 is the empty database.
const std::vector<std::vector<const char*>> kSteps = {
    {
        R"(CREATE TABLE visits(
            id INTEGER PRIMARY KEY,
            sha256 BLOB NOT NULL UNIQUE,
            file TEXT NOT NULL,
            serial INTEGER NOT NULL,
            channels INTEGER NOT NULL,
            identification TEXT NOT NULL,
            place TEXT NOT NULL,
            port TEXT NOT NULL,
            downloaded_ms INTEGER NOT NULL,
            utc_offset INTEGER NOT NULL))",
        "CREATE INDEX visits_by_serial ON visits(serial, downloaded_ms)",
        "CREATE INDEX visits_by_file ON visits(file)",
        R"(CREATE TABLE visit_channels(
            visit_id INTEGER NOT NULL,
            channel INTEGER NOT NULL,
            records INTEGER NOT NULL,
            oldest INTEGER,
            newest INTEGER,
            interval INTEGER NOT NULL,
            PRIMARY KEY(visit_id, channel)) WITHOUT ROWID)",
        R"(CREATE TABLE settings(
            visit_id INTEGER NOT NULL,
            channel INTEGER NOT NULL,
            block INTEGER NOT NULL,
            data BLOB NOT NULL,
            PRIMARY KEY(visit_id, channel, block)) WITHOUT ROWID)",
        R"(CREATE TABLE records(
            serial INTEGER NOT NULL,
            channel INTEGER NOT NULL,
            time INTEGER NOT NULL,
            data BLOB NOT NULL,
            visit_id INTEGER NOT NULL,
            PRIMARY KEY(serial, channel, time, data)) WITHOUT ROWID)",
        R"(CREATE TABLE histories(
            serial INTEGER NOT NULL,
            channel INTEGER NOT NULL,
            records INTEGER NOT NULL,
            conflicts INTEGER NOT NULL,
            first INTEGER,
            last INTEGER,
            PRIMARY KEY(serial, channel)) WITHOUT ROWID)",
    },
    // A history per serial number and channel count: records and totals gain the channel count
    // of the visit that brought them. Records that a visit of another channel count repeated
    // exactly stay with the first one; `kv9000 --reindex` gives every history all of its own.
    // A download of unknown time has no download time (NULL).
    {
        R"(CREATE TABLE visits_v2(
            id INTEGER PRIMARY KEY,
            sha256 BLOB NOT NULL UNIQUE,
            file TEXT NOT NULL,
            serial INTEGER NOT NULL,
            channels INTEGER NOT NULL,
            identification TEXT NOT NULL,
            place TEXT NOT NULL,
            port TEXT NOT NULL,
            downloaded_ms INTEGER,
            utc_offset INTEGER NOT NULL))",
        "INSERT INTO visits_v2 SELECT * FROM visits",
        "DROP TABLE visits",
        "ALTER TABLE visits_v2 RENAME TO visits",
        "CREATE INDEX visits_by_controller ON visits(serial, channels, downloaded_ms)",
        "CREATE INDEX visits_by_file ON visits(file)",
        R"(CREATE TABLE records_v2(
            serial INTEGER NOT NULL,
            channels INTEGER NOT NULL,
            channel INTEGER NOT NULL,
            time INTEGER NOT NULL,
            data BLOB NOT NULL,
            visit_id INTEGER NOT NULL,
            PRIMARY KEY(serial, channels, channel, time, data)) WITHOUT ROWID)",
        R"(INSERT INTO records_v2(serial, channels, channel, time, data, visit_id)
            SELECT r.serial, v.channels, r.channel, r.time, r.data, r.visit_id
            FROM records r JOIN visits v ON v.id = r.visit_id)",
        "DROP TABLE records",
        "ALTER TABLE records_v2 RENAME TO records",
        R"(CREATE TABLE histories_v2(
            serial INTEGER NOT NULL,
            channels INTEGER NOT NULL,
            channel INTEGER NOT NULL,
            records INTEGER NOT NULL,
            conflicts INTEGER NOT NULL,
            first INTEGER,
            last INTEGER,
            PRIMARY KEY(serial, channels, channel)) WITHOUT ROWID)",
        R"(INSERT INTO histories_v2(serial, channels, channel, records, conflicts, first, last)
            SELECT serial, channels, channel, count(DISTINCT time),
                   count(*) - count(DISTINCT time), min(time), max(time)
            FROM records GROUP BY serial, channels, channel)",
        "DROP TABLE histories",
        "ALTER TABLE histories_v2 RENAME TO histories",
    },
};

// The index's file: its name, or the file of its URI when it is opened for reading.
QString IndexPath(const QSqlDatabase& db) {
    const QString name = db.databaseName();
    return name.startsWith(QStringLiteral("file:")) ? QUrl(name).toLocalFile() : name;
}

QString Failed(const QString& what, const QSqlDatabase& db, const QSqlError& error) {
    return QStringLiteral("%1: %2").arg(what, IndexErrorCause(error, IndexPath(db)));
}

} // namespace

QString PrepareLibrarySchema(QSqlDatabase& db) {
    static_assert(LibrarySchemaVersion == 2, "a new version needs its step in kSteps");
    QSqlQuery q(db);
    // Reading the catalogue is the first thing that touches the file: a damaged file or one that
    // is no database fails here, before anything is written.
    // Only a file SQLite finds damaged is called so: a sound one on a full disk fails here too.
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) || !q.next())
        return IsDamagedIndexError(q.lastError())
                   ? QStringLiteral("файл индекса повреждён или не является базой данных: %1")
                         .arg(q.lastError().text())
                   : Failed(QStringLiteral("индекс не читается"), db, q.lastError());
    const int objects = q.value(0).toInt();
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        return Failed(QStringLiteral("версия индекса не читается"), db, q.lastError());
    const int version = q.value(0).toInt();
    if (version > LibrarySchemaVersion)
        return QStringLiteral("индекс создан более новой версией программы (схема %1, эта "
                              "программа знает схемы до %2); он не изменён")
            .arg(version)
            .arg(LibrarySchemaVersion);
    if (version == LibrarySchemaVersion)
        return {};
    if (version == 0 && objects > 0)
        return QStringLiteral("файл индекса — чужая база данных (в ней есть таблицы, но нет "
                              "версии индекса); он не изменён");

    if (db.connectOptions().contains(QStringLiteral("QSQLITE_OPEN_READONLY")))
        return QStringLiteral("индекс старой схемы %1 не обновить: он доступен только для чтения")
            .arg(version);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return Failed(QStringLiteral("индекс занят"), db, q.lastError());
    // Another instance may have brought it up to date while this one waited.
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
        const QString error =
            Failed(QStringLiteral("версия индекса не читается"), db, q.lastError());
        q.exec(QStringLiteral("ROLLBACK"));
        return error;
    }
    const int now = q.value(0).toInt();
    for (int step = now; step < LibrarySchemaVersion; ++step)
        for (const char* sql : kSteps[static_cast<std::size_t>(step)])
            if (!q.exec(QString::fromUtf8(sql))) {
                const QString error =
                    Failed(QStringLiteral("индекс не обновлён до схемы %1").arg(step + 1), db,
                           q.lastError());
                q.exec(QStringLiteral("ROLLBACK"));
                return error;
            }
    if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(LibrarySchemaVersion)) ||
        !q.exec(QStringLiteral("COMMIT"))) {
        const QString error = Failed(QStringLiteral("индекс не обновлён"), db, q.lastError());
        q.exec(QStringLiteral("ROLLBACK"));
        return error;
    }
    return {};
}
