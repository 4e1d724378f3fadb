#include "LibraryIndex.h"

#include "ArchiveDecoder.h"
#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "DiskRoom.h"
#include "IndexErrors.h"
#include "LibrarySchema.h"
#include "UndecodableNames.h"
#include "VisitGaps.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLockFile>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QUrl>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <map>

namespace {

std::atomic<int> connectionCounter{0};

constexpr int kBusyTimeoutMs = 10000;

std::optional<qint64> OptionalInt(const QVariant& v) {
    return v.isNull() ? std::nullopt : std::optional<qint64>(v.toLongLong());
}

QVariant Nullable(const std::optional<qint64>& v) {
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::LongLong));
}

// A download time as stored; NULL (a download of unknown time) gives an invalid time.
QDateTime DownloadTime(const QVariant& ms, int offset) {
    return ms.isNull() ? QDateTime()
                       : QDateTime::fromMSecsSinceEpoch(ms.toLongLong(), Qt::OffsetFromUTC, offset);
}

// The order visits follow one another in (of the visits table as v): by download time; a
// download of unknown time at its newest record, which it was downloaded after.
const QString kVisitOrder =
    QStringLiteral("COALESCE(v.downloaded_ms, (SELECT max(n.newest) * 1000 FROM visit_channels n "
                   "WHERE n.visit_id = v.id), 0)");

// Every *.kvarc below folder, in name order (so that a report reads the same every time). Hidden
// files too: earlier versions kept a download of unknown time as "<serial>/.kvarc".
QStringList ArchiveFilesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.kvarc")}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QFileInfo(it.next()).absoluteFilePath();
    files.sort();
    return files;
}

// Whether the index at path can be written: a file can be made in its folder and the file
// itself (when there) opens for writing. Tried, not judged from permissions, so that a folder on
// a read-only file system counts as read-only for the superuser too.
bool IndexWritable(const QString& path) {
    const QFileInfo info(path);
    QTemporaryFile probe(info.absolutePath() + QStringLiteral("/.kv9000-probe-XXXXXX"));
    if (!probe.open())
        return false;
    QFile file(path);
    return !info.exists() || file.open(QIODevice::ReadWrite);
}

bool IsBelow(const QString& path, const QString& folder) {
    const QString f = QDir::cleanPath(QFileInfo(folder).absoluteFilePath()) + QLatin1Char('/');
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).startsWith(f);
}

} // namespace

struct LibraryIndex::Impl {
    QString connection;
    QString path;
    bool open = false;
    bool readOnly = false;
    mutable QString lastError;

    QSqlDatabase Db() const { return QSqlDatabase::database(connection, false); }

    bool Exec(QSqlQuery& q, const QString& sql) const {
        if (q.exec(sql))
            return true;
        lastError = IndexErrorCause(q.lastError(), path);
        return false;
    }
    bool Exec(QSqlQuery& q) const {
        if (q.exec())
            return true;
        lastError = IndexErrorCause(q.lastError(), path);
        return false;
    }
    // The cause a read gives when the index is not open.
    template <typename Value> bool NotOpen(IndexRead<Value>& read) const {
        if (!open)
            read.error = QStringLiteral("индекс не открыт");
        return !open;
    }

    // The cause every write gives in an index opened for reading.
    QString ReadOnlyCause() const {
        return QStringLiteral("индекс доступен только для чтения: папка %1 недоступна для записи")
            .arg(QDir::toNativeSeparators(QFileInfo(path).absolutePath()));
    }

    QString OpenConnection(bool forReading);
    AddResult Add(const ArchiveFileContents& contents, const QString& file, const QByteArray& sha);
};

LibraryIndex::LibraryIndex() : impl_(std::make_unique<Impl>()) {
    impl_->connection = QStringLiteral("kvlibrary-%1").arg(connectionCounter.fetch_add(1));
}

LibraryIndex::~LibraryIndex() {
    if (QSqlDatabase::contains(impl_->connection)) {
        {
            QSqlDatabase db = QSqlDatabase::database(impl_->connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(impl_->connection);
    }
}

QString LibraryIndex::Impl::OpenConnection(bool forReading) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    if (!db.isValid())
        return QStringLiteral("драйвер SQLite для Qt не установлен (пакет libqt6sql6-sqlite)");
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
    if (forReading) {
        // A write-ahead log needs its shared-memory file beside the index, which a read-only
        // folder cannot hold: the file is then read as it is, as an immutable one.
        const bool logThere = QFileInfo::exists(path + QStringLiteral("-shm"));
        db.setDatabaseName(
            QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) +
            (logThere ? QStringLiteral("?mode=ro") : QStringLiteral("?mode=ro&immutable=1")));
        options += QStringLiteral(";QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI");
    } else {
        db.setDatabaseName(path);
    }
    db.setConnectOptions(options);
    if (!db.open())
        return QStringLiteral("индекс %1 не открывается: %2")
            .arg(QDir::toNativeSeparators(path), IndexErrorCause(db.lastError(), path));
    QString error = PrepareLibrarySchema(db);
    QSqlQuery q(db);
    if (error.isEmpty() && !forReading &&
        (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
         !q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))))
        error = IndexErrorCause(q.lastError(), path);
    if (!error.isEmpty()) {
        q.finish();
        db.close();
        return QStringLiteral("индекс %1: %2").arg(QDir::toNativeSeparators(path), error);
    }
    open = true;
    readOnly = forReading;
    return {};
}

QString LibraryIndex::Open(const QString& path) {
    impl_->path = QFileInfo(path).absoluteFilePath();
    const QFileInfo info(impl_->path);
    if (!QDir().mkpath(info.absolutePath()))
        return QStringLiteral("папка %1 не создаётся")
            .arg(QDir::toNativeSeparators(info.absolutePath()));
    if (info.exists() && !info.isFile())
        return QStringLiteral("%1 — не файл").arg(QDir::toNativeSeparators(impl_->path));
    // An index that cannot be written is still listed: it is opened for reading.
    const bool writable = IndexWritable(impl_->path);
    if (!writable && !info.exists())
        return QStringLiteral("индекса %1 нет, а папка недоступна для записи")
            .arg(QDir::toNativeSeparators(impl_->path));
    return impl_->OpenConnection(!writable);
}

bool LibraryIndex::IsOpen() const {
    return impl_->open;
}

bool LibraryIndex::IsReadOnly() const {
    return impl_->readOnly;
}

QString LibraryIndex::CheckWhole() const {
    if (!impl_->open)
        return QStringLiteral("индекс не открыт");
    QSqlQuery q(impl_->Db());
    if (!impl_->Exec(q, QStringLiteral("PRAGMA quick_check")))
        return impl_->lastError;
    if (!q.next() || q.value(0).toString() != QStringLiteral("ok"))
        return DamagedIndexCause();
    return {};
}

QString LibraryIndex::Path() const {
    return impl_->path;
}

QString LibraryIndex::ConnectionName() const {
    return impl_->connection;
}

QString LibraryIndex::LastError() const {
    return impl_->lastError;
}

AddResult LibraryIndex::AddFile(const QString& path) {
    AddResult result;
    if (!impl_->open) {
        result.error = QStringLiteral("индекс не открыт");
        return result;
    }
    if (impl_->readOnly) {
        result.error = impl_->ReadOnlyCause();
        return result;
    }
    const ArchiveFileReadResult read = ReadArchiveFile(path);
    const QByteArray& sha = read.imageSha256;
    if (!read.contents) {
        result.error = read.error;
        return result;
    }
    if (read.rawImage) {
        result.error = QStringLiteral("образ памяти без данных регулятора: визит не отнести ни к "
                                      "одному регулятору");
        return result;
    }
    if (!read.contents->serial) {
        result.error = QStringLiteral("серийный номер регулятора не был прочитан: визит не "
                                      "отнести ни к одному регулятору");
        return result;
    }
    return impl_->Add(*read.contents, QFileInfo(path).absoluteFilePath(), sha);
}

AddResult LibraryIndex::Impl::Add(const ArchiveFileContents& contents, const QString& file,
                                  const QByteArray& sha) {
    AddResult result;
    result.serial = *contents.serial;
    result.sha256 = sha;
    QSqlDatabase db = Db();
    QSqlQuery q(db);
    auto fail = [&](const QString& what) {
        result.outcome = AddOutcome::Refused;
        result.error = QStringLiteral("%1: %2").arg(what, lastError);
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return result;
    };
    // BEGIN IMMEDIATE takes the write lock at once (waiting out another instance's writer), so
    // that the check below and the insertions see the same index.
    if (!Exec(q, QStringLiteral("BEGIN IMMEDIATE")))
        return fail(QStringLiteral("индекс занят"));

    q.prepare(QStringLiteral("SELECT id, file FROM visits WHERE sha256 = ?"));
    q.addBindValue(sha);
    if (!Exec(q))
        return fail(QStringLiteral("индекс не читается"));
    if (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        const QString known = q.value(1).toString();
        q.finish();
        result.file = known;
        if (known != file && !QFileInfo::exists(known)) {
            q.prepare(QStringLiteral("UPDATE visits SET file = ? WHERE id = ?"));
            q.addBindValue(file);
            q.addBindValue(id);
            if (!Exec(q))
                return fail(QStringLiteral("индекс не записан"));
            result.file = file;
        }
        if (!Exec(q, QStringLiteral("COMMIT")))
            return fail(QStringLiteral("индекс не записан"));
        result.outcome = AddOutcome::AlreadyThere;
        return result;
    }
    q.finish();

    const int serial = *contents.serial;
    const int channels = contents.channelCount;
    q.prepare(QStringLiteral(
        "INSERT INTO visits(sha256, file, serial, channels, identification, place, port, "
        "downloaded_ms, utc_offset) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(sha);
    q.addBindValue(file);
    q.addBindValue(serial);
    q.addBindValue(contents.channelCount);
    q.addBindValue(contents.identification);
    q.addBindValue(contents.comment);
    q.addBindValue(contents.port);
    // A download of unknown time has none (NULL).
    q.addBindValue(contents.downloadedAt.isValid()
                       ? QVariant(contents.downloadedAt.toMSecsSinceEpoch())
                       : QVariant(QMetaType(QMetaType::LongLong)));
    q.addBindValue(contents.downloadedAt.isValid() ? contents.downloadedAt.offsetFromUtc() : 0);
    if (!Exec(q))
        return fail(QStringLiteral("визит не записан в индекс"));
    const qint64 visit = q.lastInsertId().toLongLong();

    const ArchiveGeometry geometry = GeometryFor(contents.channelCount);
    const std::vector<ChannelSeries> series =
        ExtractChartSeries(contents.image, contents.channelCount);
    QSqlQuery insertRecords(db), insertSettings(db), existing(db), history(db), span(db);
    existing.setForwardOnly(true);
    // A channel's new records go in with one statement: their times as a JSON array, their bytes
    // as one blob that SQLite takes apart. Binding the values of 8,000 rows one by one through
    // the toolkit costs more than SQLite's own work for them, and a statement with the values in
    // its text costs as much again to parse.
    insertRecords.prepare(
        QStringLiteral("INSERT OR IGNORE INTO records(serial, channels, channel, time, data, "
                       "visit_id) SELECT ?, ?, ?, t.value, substr(?, t.key * %1 + 1, %1), ? FROM "
                       "json_each(?) AS t")
            .arg(ArchiveRecordSize));
    insertSettings.prepare(
        QStringLiteral("INSERT INTO settings(visit_id, channel, block, data) VALUES(?, ?, ?, ?)"));
    existing.prepare(QStringLiteral("SELECT time, data FROM records WHERE serial = ? AND "
                                    "channels = ? AND channel = ? AND time BETWEEN ? AND ?"));
    span.prepare(QStringLiteral(
        "INSERT INTO visit_channels(visit_id, channel, records, oldest, newest, interval) "
        "VALUES(?, ?, ?, ?, ?, ?)"));
    history.prepare(QStringLiteral(
        "INSERT INTO histories(serial, channels, channel, records, conflicts, first, last) "
        "VALUES(:serial, :channels, :channel, :records, :conflicts, :first, :last) "
        "ON CONFLICT(serial, channels, channel) DO UPDATE SET records = records + "
        "excluded.records, "
        "conflicts = conflicts + excluded.conflicts, first = min(first, excluded.first), "
        "last = max(last, excluded.last)"));
    const auto* bytes = reinterpret_cast<const char*>(contents.image.constData());

    for (int ch = 0; ch < static_cast<int>(series.size()); ++ch) {
        const ChannelSeries& s = series[static_cast<std::size_t>(ch)];
        const char* block = bytes + static_cast<std::ptrdiff_t>(ch) * geometry.channelBlockSize;
        const int channel = ch + 1;
        std::optional<qint64> oldest, newest;
        if (!s.Empty()) {
            oldest = static_cast<qint64>(s.time.front());
            newest = static_cast<qint64>(s.time.back());
        }
        auto recordAt = [&](std::size_t k) {
            return QByteArrayView(block +
                                      static_cast<std::ptrdiff_t>(s.row[k] - 1) * ArchiveRecordSize,
                                  ArchiveRecordSize);
        };
        // This visit's records by time; what the history already holds is compared with them as
        // it streams past, so that memory follows the visit, never the history (a controller
        // whose every visit conflicts would otherwise hold all of them at once). Most of a
        // visit overlaps the one before, and reading those records back is much cheaper than
        // offering them again.
        QHash<qint64, QVarLengthArray<std::size_t, 1>> byTime;
        byTime.reserve(static_cast<qsizetype>(s.time.size()));
        for (std::size_t k = 0; k < s.time.size(); ++k)
            byTime[static_cast<qint64>(s.time[k])].append(k);
        std::vector<bool> inHistory(s.time.size(), false);
        QSet<qint64> timesHeld; // times with at least one record in the history
        if (oldest) {
            existing.addBindValue(serial);
            existing.addBindValue(channels);
            existing.addBindValue(channel);
            existing.addBindValue(*oldest);
            existing.addBindValue(*newest);
            if (!Exec(existing))
                return fail(QStringLiteral("индекс не читается"));
            while (existing.next()) {
                const auto it = byTime.constFind(existing.value(0).toLongLong());
                if (it == byTime.cend())
                    continue;
                timesHeld.insert(it.key());
                const QByteArray held = existing.value(1).toByteArray();
                for (std::size_t k : *it)
                    if (recordAt(k) == held)
                        inHistory[k] = true;
            }
            existing.finish();
        }
        qint64 newTimes = 0, newConflicts = 0;
        QByteArray newTimesJson("[");
        QByteArray newData;
        for (std::size_t k = 0; k < s.time.size(); ++k) {
            const auto time = static_cast<qint64>(s.time[k]);
            if (inHistory[k])
                continue;
            // The same record twice in one visit is offered once.
            const auto& sameTime = byTime[time];
            if (std::any_of(sameTime.begin(), sameTime.end(),
                            [&](std::size_t j) { return j < k && recordAt(j) == recordAt(k); }))
                continue;
            // A record of a time not yet in the history adds a time; one more of a time there
            // already is a conflict.
            ++(timesHeld.contains(time) ? newConflicts : newTimes);
            timesHeld.insert(time);
            if (!newData.isEmpty())
                newTimesJson += ',';
            newTimesJson += QByteArray::number(time);
            newData += recordAt(k);
        }
        if (!newData.isEmpty()) {
            newTimesJson += ']';
            insertRecords.addBindValue(serial);
            insertRecords.addBindValue(channels);
            insertRecords.addBindValue(channel);
            insertRecords.addBindValue(newData);
            insertRecords.addBindValue(visit);
            insertRecords.addBindValue(QString::fromLatin1(newTimesJson));
            if (!Exec(insertRecords))
                return fail(QStringLiteral("записи не внесены в индекс"));
        }
        if (oldest) {
            history.bindValue(QStringLiteral(":serial"), serial);
            history.bindValue(QStringLiteral(":channels"), channels);
            history.bindValue(QStringLiteral(":channel"), channel);
            history.bindValue(QStringLiteral(":records"), newTimes);
            history.bindValue(QStringLiteral(":conflicts"), newConflicts);
            history.bindValue(QStringLiteral(":first"), *oldest);
            history.bindValue(QStringLiteral(":last"), *newest);
            if (!Exec(history))
                return fail(QStringLiteral("история не записана в индекс"));
        }
        span.addBindValue(visit);
        span.addBindValue(channel);
        span.addBindValue(static_cast<qint64>(s.time.size()));
        span.addBindValue(Nullable(oldest));
        span.addBindValue(Nullable(newest));
        span.addBindValue(static_cast<qint64>(s.logInterval));
        if (!Exec(span))
            return fail(QStringLiteral("визит не записан в индекс"));

        const char* settings = block + geometry.recordAreaSize;
        for (int b = 0; b < SettingsBlockCount; ++b) {
            const char* blockBytes = settings + b * ArchiveRecordSize;
            if (static_cast<std::uint8_t>(blockBytes[ArchiveRecordSize - 1]) != SettingsBlockMarker)
                continue;
            insertSettings.addBindValue(visit);
            insertSettings.addBindValue(channel);
            insertSettings.addBindValue(b + 1);
            insertSettings.addBindValue(QByteArray(blockBytes, ArchiveRecordSize));
            if (!Exec(insertSettings))
                return fail(QStringLiteral("настройки не записаны в индекс"));
        }
    }
    if (!Exec(q, QStringLiteral("COMMIT")))
        return fail(QStringLiteral("индекс не записан"));
    result.outcome = AddOutcome::Added;
    result.file = file;
    return result;
}

IndexReport LibraryIndex::Import(const QStringList& paths, const QString& archivesFolder) {
    IndexReport report;
    QStringList files, undecodable;
    for (const QString& path : paths) {
        if (QFileInfo(path).isDir()) {
            files << ArchiveFilesBelow(path);
            undecodable << UndecodableArchiveNamesBelow(path);
        } else {
            files << path;
        }
    }
    // Qt leaves them out of every listing: they are named here, never skipped without a word.
    for (const QString& name : undecodable)
        report.refused.push_back({name, QStringLiteral("имя файла не в кодировке UTF-8: "
                                                       "переименуйте файл, чтобы его прочитать")});
    // A damaged index would fail each file only after its copy: it is found before any.
    const QString unusable = impl_->readOnly ? impl_->ReadOnlyCause() : CheckWhole();
    if (!unusable.isEmpty()) {
        for (const QString& file : files)
            report.refused.push_back({file, unusable});
        return report;
    }
    for (const QString& file : files) {
        const ArchiveFileReadResult read = ReadArchiveFile(file);
        const QByteArray& sha = read.imageSha256;
        QString cause = read.error;
        if (read.contents && read.rawImage)
            cause = QStringLiteral("образ памяти без данных регулятора");
        else if (read.contents && !read.contents->serial)
            cause = QStringLiteral("серийный номер регулятора не был прочитан");
        if (!cause.isEmpty()) {
            report.refused.push_back({file, cause});
            continue;
        }
        const IndexRead<std::optional<LibraryVisit>> known = VisitBySha(sha);
        if (known.Failed()) {
            report.refused.push_back({file, known.error});
            continue;
        }
        // A known download whose file is gone is kept again below.
        if (known.has_value() && QFileInfo::exists(known->file)) {
            ++report.alreadyThere;
            continue;
        }
        QString target = QFileInfo(file).absoluteFilePath();
        bool copied = false;
        if (!IsBelow(file, archivesFolder)) {
            // Kept as a download is: the name is taken by the move that never replaces a file.
            const QString error =
                KeepArchiveFile(archivesFolder, *read.contents, &target,
                                read.compressed ? KeptEncoding::Compressed : KeptEncoding::Plain);
            if (!error.isEmpty()) {
                report.refused.push_back(
                    {file, QStringLiteral("не скопирован в папку архивов %1: %2")
                               .arg(QDir::toNativeSeparators(archivesFolder), error)});
                continue;
            }
            copied = true;
        }
        const AddResult added = impl_->Add(*read.contents, target, sha);
        // A copy that the index does not point at (its indexing failed, or another import kept
        // the same download a moment before) is this import's own: it is taken back.
        if (copied && added.file != target)
            QFile::remove(target);
        if (added.outcome == AddOutcome::Added) {
            ++report.added;
            report.addedFiles << target;
        } else if (added.outcome == AddOutcome::AlreadyThere) {
            ++report.alreadyThere;
            if (known.has_value() && added.file == target)
                ++report.restored;
        } else {
            report.refused.push_back({file, added.error});
        }
    }
    return report;
}

IndexReport LibraryIndex::CatchUp(const QString& folder, const std::atomic<bool>* stop) {
    IndexReport report;
    QSet<QString> known;
    {
        QSqlQuery q(impl_->Db());
        q.setForwardOnly(true);
        if (!impl_->open || !impl_->Exec(q, QStringLiteral("SELECT file FROM visits"))) {
            report.refused.push_back(
                {folder, impl_->open ? impl_->lastError : QStringLiteral("индекс не открыт")});
            return report;
        }
        while (q.next())
            known.insert(q.value(0).toString());
    }
    for (const QString& file : ArchiveFilesBelow(folder)) {
        if (stop && stop->load())
            break;
        if (known.contains(file))
            continue;
        const AddResult added = AddFile(file);
        if (added.outcome == AddOutcome::Added) {
            ++report.added;
            report.addedFiles << file;
        } else if (added.outcome == AddOutcome::AlreadyThere) {
            ++report.alreadyThere;
        } else {
            report.refused.push_back({file, added.error});
        }
    }
    return report;
}

IndexRead<std::vector<LibraryController>> LibraryIndex::Controllers() const {
    IndexRead<std::vector<LibraryController>> list;
    if (impl_->NotOpen(list))
        return list;
    auto failed = [&] {
        list.clear();
        list.error = impl_->lastError;
        return list;
    };
    QSqlDatabase db = impl_->Db();
    using Key = std::pair<int, int>; // serial number, channel count
    std::map<Key, LibraryController> byKey;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // The newest visit of each controller gives the identity shown.
    if (!impl_->Exec(q, QStringLiteral("SELECT v.serial, v.channels, v.place, v.identification, "
                                       "v.downloaded_ms, v.utc_offset FROM visits v ORDER BY "
                                       "v.serial, v.channels, %1, v.id")
                            .arg(kVisitOrder)))
        return failed();
    while (q.next()) {
        LibraryController& c = byKey[{q.value(0).toInt(), q.value(1).toInt()}];
        c.serial = q.value(0).toInt();
        c.channels = q.value(1).toInt();
        c.place = q.value(2).toString();
        c.identification = q.value(3).toString();
        c.lastVisit = DownloadTime(q.value(4), q.value(5).toInt());
        ++c.visits;
    }
    if (!impl_->Exec(q, QStringLiteral("SELECT serial, channels, sum(records), sum(conflicts), "
                                       "min(first), max(last) FROM histories "
                                       "GROUP BY serial, channels")))
        return failed();
    while (q.next()) {
        const auto it = byKey.find({q.value(0).toInt(), q.value(1).toInt()});
        if (it == byKey.end())
            continue;
        it->second.records = q.value(2).toLongLong();
        it->second.conflicts = q.value(3).toLongLong();
        it->second.first = OptionalInt(q.value(4));
        it->second.last = OptionalInt(q.value(5));
    }
    std::map<Key, std::vector<VisitSpan>> spans;
    if (!impl_->Exec(q, QStringLiteral("SELECT v.serial, v.channels, v.id, %1, c.channel, "
                                       "c.oldest, c.newest, c.interval FROM visit_channels c "
                                       "JOIN visits v ON v.id = c.visit_id")
                            .arg(kVisitOrder)))
        return failed();
    while (q.next())
        spans[{q.value(0).toInt(), q.value(1).toInt()}].push_back(
            {q.value(2).toLongLong(), q.value(3).toLongLong(), q.value(4).toInt(),
             OptionalInt(q.value(5)), OptionalInt(q.value(6)), q.value(7).toLongLong()});
    for (auto& [key, visitSpans] : spans) {
        const auto it = byKey.find(key);
        if (it == byKey.end())
            continue;
        for (const auto& [visit, lost] : LostSecondsPerVisit(std::move(visitSpans)))
            it->second.lostSeconds += lost;
    }
    list.reserve(byKey.size());
    for (auto& [key, c] : byKey)
        list.push_back(std::move(c));
    return list;
}

IndexRead<std::vector<LibraryVisit>> LibraryIndex::NewestVisits() const {
    IndexRead<std::vector<LibraryVisit>> newest;
    if (impl_->NotOpen(newest))
        return newest;
    QSqlDatabase db = impl_->Db();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // In each controller's visit order (Visits) its last row is its newest visit.
    if (!impl_->Exec(q,
                     QStringLiteral("SELECT v.id, v.serial, v.channels, v.file, v.downloaded_ms, "
                                    "v.utc_offset, (SELECT max(c.newest) FROM visit_channels c "
                                    "WHERE c.visit_id = v.id) FROM visits v ORDER BY v.serial, "
                                    "v.channels, %1, v.id")
                         .arg(kVisitOrder))) {
        newest.error = impl_->lastError;
        return newest;
    }
    while (q.next()) {
        LibraryVisit v;
        v.id = q.value(0).toLongLong();
        v.serial = q.value(1).toInt();
        v.channels = q.value(2).toInt();
        v.file = q.value(3).toString();
        v.downloadedAt = DownloadTime(q.value(4), q.value(5).toInt());
        v.newest = OptionalInt(q.value(6));
        if (!newest.empty() && newest.back().serial == v.serial &&
            newest.back().channels == v.channels)
            newest.back() = std::move(v);
        else
            newest.push_back(std::move(v));
    }
    return newest;
}

IndexRead<std::vector<LibraryVisit>> LibraryIndex::Visits(int serial, int channels) const {
    IndexRead<std::vector<LibraryVisit>> visits;
    if (impl_->NotOpen(visits))
        return visits;
    auto failed = [&] {
        visits.clear();
        visits.error = impl_->lastError;
        return visits;
    };
    // channels 0 matches every channel count.
    const QString which = QStringLiteral("v.serial = :serial AND :channels IN (0, v.channels)");
    QSqlDatabase db = impl_->Db();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT v.id, v.file, v.downloaded_ms, v.utc_offset, v.channels, "
                             "v.identification, v.place, v.port, v.sha256 FROM visits v "
                             "WHERE %1 ORDER BY %2, v.id")
                  .arg(which, kVisitOrder));
    q.bindValue(QStringLiteral(":serial"), serial);
    q.bindValue(QStringLiteral(":channels"), channels);
    if (!impl_->Exec(q))
        return failed();
    std::map<qint64, std::size_t> at;
    while (q.next()) {
        LibraryVisit v;
        v.id = q.value(0).toLongLong();
        v.serial = serial;
        v.file = q.value(1).toString();
        v.downloadedAt = DownloadTime(q.value(2), q.value(3).toInt());
        v.channels = q.value(4).toInt();
        v.identification = q.value(5).toString();
        v.place = q.value(6).toString();
        v.port = q.value(7).toString();
        v.sha256 = q.value(8).toByteArray();
        at[v.id] = visits.size();
        visits.push_back(std::move(v));
    }
    q.prepare(QStringLiteral("SELECT c.visit_id, c.channel, c.records, c.oldest, c.newest, "
                             "c.interval, %1, v.channels FROM visit_channels c JOIN visits v "
                             "ON v.id = c.visit_id WHERE %2")
                  .arg(kVisitOrder, which));
    q.bindValue(QStringLiteral(":serial"), serial);
    q.bindValue(QStringLiteral(":channels"), channels);
    if (!impl_->Exec(q))
        return failed();
    // The days lost are counted within each history (channel count), never across two.
    std::map<int, std::vector<VisitSpan>> spans;
    while (q.next()) {
        LibraryVisit& v = visits[at[q.value(0).toLongLong()]];
        VisitSpan s{q.value(0).toLongLong(), q.value(6).toLongLong(), q.value(1).toInt(),
                    OptionalInt(q.value(3)), OptionalInt(q.value(4)), q.value(5).toLongLong()};
        v.records += q.value(2).toLongLong();
        if (s.oldest)
            v.oldest = v.oldest ? std::min(*v.oldest, *s.oldest) : *s.oldest;
        if (s.newest)
            v.newest = v.newest ? std::max(*v.newest, *s.newest) : *s.newest;
        spans[q.value(7).toInt()].push_back(s);
    }
    for (auto& [count, history] : spans)
        for (const auto& [visit, lost] : LostSecondsPerVisit(std::move(history)))
            visits[at[visit]].lostSeconds = lost;

    q.prepare(QStringLiteral("SELECT s.visit_id, s.channel, s.block, s.data FROM settings s "
                             "JOIN visits v ON v.id = s.visit_id WHERE %1")
                  .arg(which));
    q.bindValue(QStringLiteral(":serial"), serial);
    q.bindValue(QStringLiteral(":channels"), channels);
    if (!impl_->Exec(q))
        return failed();
    std::map<qint64, QByteArray> settings;
    while (q.next())
        settings[q.value(0).toLongLong()] +=
            q.value(1).toByteArray() + q.value(2).toByteArray() + q.value(3).toByteArray();
    // Settings are compared with the visit before of the same history.
    std::map<int, qint64> before; // channel count: the last visit seen
    for (LibraryVisit& v : visits) {
        const auto it = before.find(v.channels);
        v.settingsChanged = it != before.end() && settings[v.id] != settings[it->second];
        before[v.channels] = v.id;
    }
    return visits;
}

IndexRead<std::optional<LibraryVisit>> LibraryIndex::VisitBySha(const QByteArray& sha256) const {
    IndexRead<std::optional<LibraryVisit>> found;
    if (impl_->NotOpen(found))
        return found;
    QSqlQuery q(impl_->Db());
    q.prepare(QStringLiteral("SELECT serial, channels FROM visits WHERE sha256 = ?"));
    q.addBindValue(sha256);
    if (!impl_->Exec(q)) {
        found.error = impl_->lastError;
        return found;
    }
    if (!q.next())
        return found;
    const int serial = q.value(0).toInt();
    const int channels = q.value(1).toInt();
    q.finish();
    IndexRead<std::vector<LibraryVisit>> visits = Visits(serial, channels);
    if (visits.Failed()) {
        found.error = visits.error;
        return found;
    }
    for (LibraryVisit& v : visits)
        if (v.sha256 == sha256)
            found.emplace(std::move(v));
    return found;
}

IndexRead<QStringList> LibraryIndex::KnownSha256() const {
    IndexRead<QStringList> list;
    if (impl_->NotOpen(list))
        return list;
    QSqlQuery q(impl_->Db());
    q.setForwardOnly(true);
    if (!impl_->Exec(q, QStringLiteral("SELECT sha256 FROM visits"))) {
        list.error = impl_->lastError;
        return list;
    }
    while (q.next())
        list << QString::fromLatin1(q.value(0).toByteArray().toHex());
    return list;
}

IndexRead<std::vector<ChannelSeries>> LibraryIndex::History(int serial, int channels) const {
    IndexRead<std::vector<ChannelSeries>> series;
    if (impl_->NotOpen(series))
        return series;
    auto failed = [&] {
        series.clear();
        series.error = impl_->lastError;
        return series;
    };
    QSqlQuery records(impl_->Db());
    records.setForwardOnly(true);
    if (channels == 0) {
        records.prepare(QStringLiteral("SELECT v.channels FROM visits v WHERE v.serial = ? "
                                       "ORDER BY %1 DESC, v.id DESC LIMIT 1")
                            .arg(kVisitOrder));
        records.addBindValue(serial);
        if (!impl_->Exec(records))
            return failed();
        channels = records.next() ? records.value(0).toInt() : 0;
        records.finish();
    }
    // One query per channel reading the records alone, straight into one buffer: at years of
    // records the reading is most of the time the chart window waits for.
    records.prepare(QStringLiteral("SELECT data FROM records WHERE serial = ? AND channels = ? "
                                   "AND channel = ? ORDER BY time"));
    for (int channel = 1; channel <= MaxChannelCount; ++channel) {
        records.addBindValue(serial);
        records.addBindValue(channels);
        records.addBindValue(channel);
        if (!impl_->Exec(records))
            return failed();
        QByteArray all;
        while (records.next())
            all += records.value(0).toByteArray();
        records.finish();
        series.push_back(ExtractRecordSeries(all));
    }
    // As many channels as the controller has records of.
    while (!series.empty() && series.back().Empty() && series.back().invalidTimes == 0)
        series.pop_back();
    return series;
}

QString AddKeptDownload(const QString& indexPath, const QString& file) {
    LibraryIndex index;
    QString error = index.Open(indexPath);
    if (error.isEmpty()) {
        const AddResult added = index.AddFile(file);
        if (added.outcome == AddOutcome::Refused)
            error = added.error;
    }
    return error;
}

IndexReport RebuildLibraryIndex(const QString& path, const QString& archivesFolder,
                                QString& error) {
    IndexReport report;
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath())) {
        error = QStringLiteral("папка %1 не создаётся")
                    .arg(QDir::toNativeSeparators(info.absolutePath()));
        return report;
    }
    // One rebuild at a time: a second one would write the same fresh file under the first.
    QLockFile lock(path + QStringLiteral(".rebuild.lock"));
    lock.setStaleLockTime(0); // a rebuild may take long; only a dead process's lock is stale
    if (!lock.tryLock(0)) {
        qint64 pid = 0;
        QString host, application;
        if (lock.error() == QLockFile::LockFailedError) {
            lock.getLockInfo(&pid, &host, &application);
            error =
                QStringLiteral("индекс уже перестраивается (процесс %1); дождитесь конца").arg(pid);
        } else if (const QString noRoom = NoRoomCause(info.absolutePath()); !noRoom.isEmpty()) {
            error = QStringLiteral("индекс не перестроить: %1").arg(noRoom);
        } else {
            error = QStringLiteral("индекс не перестроить: папка %1 недоступна для записи")
                        .arg(QDir::toNativeSeparators(info.absolutePath()));
        }
        return report;
    }
    const QString fresh = path + QStringLiteral(".rebuilding");
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(fresh + suffix);
    {
        LibraryIndex index;
        error = index.Open(fresh);
        if (!error.isEmpty())
            return report;
        report = index.CatchUp(archivesFolder);
    }
    // A damaged index (anywhere in it, not only its first pages) or one of a newer program is
    // kept under a name of its own.
    if (QFileInfo::exists(path)) {
        bool sound = false;
        {
            LibraryIndex old;
            sound = old.Open(path).isEmpty() && old.CheckWhole().isEmpty();
        }
        if (!sound) {
            const QString kept =
                path + QStringLiteral(".damaged-") +
                QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
            if (!QFile::rename(path, kept)) {
                error = QStringLiteral("старый индекс %1 не переименован; новый оставлен в %2")
                            .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(fresh));
                return report;
            }
            for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
                QFile::rename(path + suffix, kept + suffix);
        }
    }
    // The fresh index was closed with its log folded in; its name replaces the old one's.
    for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(path + suffix);
    if (std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData()) != 0)
        error = QStringLiteral("новый индекс %1 не поставлен на место %2")
                    .arg(QDir::toNativeSeparators(fresh), QDir::toNativeSeparators(path));
    return report;
}
