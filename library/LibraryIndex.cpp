#include "LibraryIndex.h"

#include "ArchiveDecoder.h"
#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "LibrarySchema.h"
#include "VisitGaps.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
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

QDateTime DownloadTime(qint64 ms, int offset) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offset);
}

// Every *.kvarc below folder, in name order (so that a report reads the same every time).
QStringList ArchiveFilesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.kvarc")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QFileInfo(it.next()).absoluteFilePath();
    files.sort();
    return files;
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
    mutable QString lastError;

    QSqlDatabase Db() const { return QSqlDatabase::database(connection, false); }

    bool Exec(QSqlQuery& q, const QString& sql) const {
        if (q.exec(sql))
            return true;
        lastError = q.lastError().text();
        return false;
    }
    bool Exec(QSqlQuery& q) const {
        if (q.exec())
            return true;
        lastError = q.lastError().text();
        return false;
    }

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

QString LibraryIndex::Open(const QString& path) {
    impl_->path = QFileInfo(path).absoluteFilePath();
    const QFileInfo info(impl_->path);
    if (!QDir().mkpath(info.absolutePath()))
        return QStringLiteral("папка %1 не создаётся")
            .arg(QDir::toNativeSeparators(info.absolutePath()));
    if (info.exists() && !info.isFile())
        return QStringLiteral("%1 — не файл").arg(QDir::toNativeSeparators(impl_->path));
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), impl_->connection);
    if (!db.isValid())
        return QStringLiteral("драйвер SQLite для Qt не установлен (пакет libqt6sql6-sqlite)");
    db.setDatabaseName(impl_->path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!db.open())
        return QStringLiteral("индекс %1 не открывается: %2")
            .arg(QDir::toNativeSeparators(impl_->path), db.lastError().text());
    QString error = PrepareLibrarySchema(db);
    QSqlQuery q(db);
    if (error.isEmpty() && (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) ||
                            !q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))))
        error = q.lastError().text();
    if (!error.isEmpty()) {
        db.close();
        return QStringLiteral("индекс %1: %2").arg(QDir::toNativeSeparators(impl_->path), error);
    }
    impl_->open = true;
    return {};
}

bool LibraryIndex::IsOpen() const {
    return impl_->open;
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
        if (known != file && !QFileInfo::exists(known)) {
            q.prepare(QStringLiteral("UPDATE visits SET file = ? WHERE id = ?"));
            q.addBindValue(file);
            q.addBindValue(id);
            if (!Exec(q))
                return fail(QStringLiteral("индекс не записан"));
        }
        if (!Exec(q, QStringLiteral("COMMIT")))
            return fail(QStringLiteral("индекс не записан"));
        result.outcome = AddOutcome::AlreadyThere;
        return result;
    }
    q.finish();

    const int serial = *contents.serial;
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
    q.addBindValue(contents.downloadedAt.toMSecsSinceEpoch());
    q.addBindValue(contents.downloadedAt.offsetFromUtc());
    if (!Exec(q))
        return fail(QStringLiteral("визит не записан в индекс"));
    const qint64 visit = q.lastInsertId().toLongLong();

    const ArchiveGeometry geometry = GeometryFor(contents.channelCount);
    const std::vector<ChannelSeries> series =
        ExtractChartSeries(contents.image, contents.channelCount);
    QSqlQuery insertRecord(db), insertSettings(db), existing(db), history(db), span(db);
    existing.setForwardOnly(true);
    insertRecord.prepare(QStringLiteral("INSERT OR IGNORE INTO records(serial, channel, time, "
                                        "data, visit_id) VALUES(?, ?, ?, ?, ?)"));
    insertSettings.prepare(
        QStringLiteral("INSERT INTO settings(visit_id, channel, block, data) VALUES(?, ?, ?, ?)"));
    existing.prepare(QStringLiteral("SELECT time, data FROM records "
                                    "WHERE serial = ? AND channel = ? AND time BETWEEN ? AND ?"));
    span.prepare(QStringLiteral(
        "INSERT INTO visit_channels(visit_id, channel, records, oldest, newest, interval) "
        "VALUES(?, ?, ?, ?, ?, ?)"));
    history.prepare(QStringLiteral(
        "INSERT INTO histories(serial, channel, records, conflicts, first, last) "
        "VALUES(:serial, :channel, :records, :conflicts, :first, :last) "
        "ON CONFLICT(serial, channel) DO UPDATE SET records = records + excluded.records, "
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
            insertRecord.addBindValue(serial);
            insertRecord.addBindValue(channel);
            insertRecord.addBindValue(time);
            insertRecord.addBindValue(recordAt(k).toByteArray());
            insertRecord.addBindValue(visit);
            if (!Exec(insertRecord))
                return fail(QStringLiteral("записи не внесены в индекс"));
        }
        if (oldest) {
            history.bindValue(QStringLiteral(":serial"), serial);
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
    return result;
}

IndexReport LibraryIndex::Import(const QStringList& paths, const QString& archivesFolder) {
    IndexReport report;
    QStringList files;
    for (const QString& path : paths) {
        if (QFileInfo(path).isDir())
            files << ArchiveFilesBelow(path);
        else
            files << path;
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
        if (VisitBySha(sha)) {
            ++report.alreadyThere;
            continue;
        }
        QString target = QFileInfo(file).absoluteFilePath();
        if (!IsBelow(file, archivesFolder)) {
            target = AutoSavePath(archivesFolder, *read.contents);
            const QString error = WriteArchiveFile(target, *read.contents);
            if (!error.isEmpty()) {
                report.refused.push_back({file, QStringLiteral("не скопирован в %1: %2")
                                                    .arg(QDir::toNativeSeparators(target), error)});
                continue;
            }
        }
        const AddResult added = impl_->Add(*read.contents, target, sha);
        if (added.outcome == AddOutcome::Added) {
            ++report.added;
            report.addedFiles << target;
        } else if (added.outcome == AddOutcome::AlreadyThere) {
            ++report.alreadyThere;
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
        if (impl_->Exec(q, QStringLiteral("SELECT file FROM visits")))
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

std::vector<LibraryController> LibraryIndex::Controllers() const {
    std::vector<LibraryController> list;
    if (!impl_->open)
        return list;
    QSqlDatabase db = impl_->Db();
    std::map<int, LibraryController> bySerial;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // The newest visit of each serial number gives the identity shown.
    if (!impl_->Exec(
            q, QStringLiteral("SELECT serial, place, identification, channels, downloaded_ms, "
                              "utc_offset FROM visits ORDER BY serial, downloaded_ms, id")))
        return list;
    while (q.next()) {
        LibraryController& c = bySerial[q.value(0).toInt()];
        c.serial = q.value(0).toInt();
        c.place = q.value(1).toString();
        c.identification = q.value(2).toString();
        c.channels = q.value(3).toInt();
        c.lastVisit = DownloadTime(q.value(4).toLongLong(), q.value(5).toInt());
        ++c.visits;
    }
    if (!impl_->Exec(q, QStringLiteral("SELECT serial, sum(records), sum(conflicts), min(first), "
                                       "max(last) FROM histories GROUP BY serial")))
        return list;
    while (q.next()) {
        const auto it = bySerial.find(q.value(0).toInt());
        if (it == bySerial.end())
            continue;
        it->second.records = q.value(1).toLongLong();
        it->second.conflicts = q.value(2).toLongLong();
        it->second.first = OptionalInt(q.value(3));
        it->second.last = OptionalInt(q.value(4));
    }
    std::map<int, std::vector<VisitSpan>> spans;
    if (!impl_->Exec(q,
                     QStringLiteral("SELECT v.serial, v.id, v.downloaded_ms, c.channel, c.oldest, "
                                    "c.newest, c.interval FROM visit_channels c JOIN visits v "
                                    "ON v.id = c.visit_id")))
        return list;
    while (q.next())
        spans[q.value(0).toInt()].push_back({q.value(1).toLongLong(), q.value(2).toLongLong(),
                                             q.value(3).toInt(), OptionalInt(q.value(4)),
                                             OptionalInt(q.value(5)), q.value(6).toLongLong()});
    for (auto& [serial, visitSpans] : spans) {
        const auto it = bySerial.find(serial);
        if (it == bySerial.end())
            continue;
        for (const auto& [visit, lost] : LostSecondsPerVisit(std::move(visitSpans)))
            it->second.lostSeconds += lost;
    }
    list.reserve(bySerial.size());
    for (auto& [serial, c] : bySerial)
        list.push_back(std::move(c));
    return list;
}

std::vector<LibraryVisit> LibraryIndex::Visits(int serial) const {
    std::vector<LibraryVisit> visits;
    if (!impl_->open)
        return visits;
    QSqlDatabase db = impl_->Db();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT id, file, downloaded_ms, utc_offset, channels, "
                             "identification, place, port, sha256 FROM visits WHERE serial = ? "
                             "ORDER BY downloaded_ms, id"));
    q.addBindValue(serial);
    if (!impl_->Exec(q))
        return visits;
    std::map<qint64, std::size_t> at;
    while (q.next()) {
        LibraryVisit v;
        v.id = q.value(0).toLongLong();
        v.serial = serial;
        v.file = q.value(1).toString();
        v.downloadedAt = DownloadTime(q.value(2).toLongLong(), q.value(3).toInt());
        v.channels = q.value(4).toInt();
        v.identification = q.value(5).toString();
        v.place = q.value(6).toString();
        v.port = q.value(7).toString();
        v.sha256 = q.value(8).toByteArray();
        at[v.id] = visits.size();
        visits.push_back(std::move(v));
    }
    q.prepare(QStringLiteral("SELECT c.visit_id, c.channel, c.records, c.oldest, c.newest, "
                             "c.interval, v.downloaded_ms FROM visit_channels c JOIN visits v "
                             "ON v.id = c.visit_id WHERE v.serial = ?"));
    q.addBindValue(serial);
    if (!impl_->Exec(q))
        return visits;
    std::vector<VisitSpan> spans;
    while (q.next()) {
        LibraryVisit& v = visits[at[q.value(0).toLongLong()]];
        VisitSpan s{q.value(0).toLongLong(), q.value(6).toLongLong(), q.value(1).toInt(),
                    OptionalInt(q.value(3)), OptionalInt(q.value(4)), q.value(5).toLongLong()};
        v.records += q.value(2).toLongLong();
        if (s.oldest)
            v.oldest = v.oldest ? std::min(*v.oldest, *s.oldest) : *s.oldest;
        if (s.newest)
            v.newest = v.newest ? std::max(*v.newest, *s.newest) : *s.newest;
        spans.push_back(s);
    }
    for (const auto& [visit, lost] : LostSecondsPerVisit(std::move(spans)))
        visits[at[visit]].lostSeconds = lost;

    q.prepare(QStringLiteral("SELECT s.visit_id, s.channel, s.block, s.data FROM settings s "
                             "JOIN visits v ON v.id = s.visit_id WHERE v.serial = ?"));
    q.addBindValue(serial);
    if (!impl_->Exec(q))
        return visits;
    std::map<qint64, QByteArray> settings;
    while (q.next())
        settings[q.value(0).toLongLong()] +=
            q.value(1).toByteArray() + q.value(2).toByteArray() + q.value(3).toByteArray();
    for (std::size_t i = 1; i < visits.size(); ++i)
        visits[i].settingsChanged = settings[visits[i].id] != settings[visits[i - 1].id];
    return visits;
}

std::optional<LibraryVisit> LibraryIndex::VisitBySha(const QByteArray& sha256) const {
    if (!impl_->open)
        return std::nullopt;
    QSqlQuery q(impl_->Db());
    q.prepare(QStringLiteral("SELECT serial FROM visits WHERE sha256 = ?"));
    q.addBindValue(sha256);
    if (!impl_->Exec(q) || !q.next())
        return std::nullopt;
    const int serial = q.value(0).toInt();
    q.finish();
    for (LibraryVisit& v : Visits(serial))
        if (v.sha256 == sha256)
            return v;
    return std::nullopt;
}

QStringList LibraryIndex::KnownSha256() const {
    QStringList list;
    if (!impl_->open)
        return list;
    QSqlQuery q(impl_->Db());
    q.setForwardOnly(true);
    if (impl_->Exec(q, QStringLiteral("SELECT sha256 FROM visits")))
        while (q.next())
            list << QString::fromLatin1(q.value(0).toByteArray().toHex());
    return list;
}

std::vector<ChannelSeries> LibraryIndex::History(int serial) const {
    std::vector<ChannelSeries> series;
    if (!impl_->open)
        return series;
    // One query per channel reading the records alone, straight into one buffer: at years of
    // records the reading is most of the time the chart window waits for.
    QSqlQuery records(impl_->Db());
    records.setForwardOnly(true);
    records.prepare(QStringLiteral("SELECT data FROM records WHERE serial = ? AND channel = ? "
                                   "ORDER BY time"));
    for (int channel = 1; channel <= MaxChannelCount; ++channel) {
        records.addBindValue(serial);
        records.addBindValue(channel);
        if (!impl_->Exec(records))
            return {};
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
    // A damaged index or one of a newer program is kept under a name of its own.
    if (QFileInfo::exists(path)) {
        LibraryIndex old;
        if (!old.Open(path).isEmpty()) {
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
