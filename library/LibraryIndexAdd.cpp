#include "LibraryIndex.h"

#include "ArchiveDecoder.h"
#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "LibraryIndexImpl.h"
#include "UndecodableNames.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QVarLengthArray>

#include <algorithm>
#include <atomic>

namespace {

QVariant Nullable(const std::optional<qint64>& v) {
    return v ? QVariant(*v) : QVariant(QMetaType(QMetaType::LongLong));
}

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

bool IsBelow(const QString& path, const QString& folder) {
    const QString f = QDir::cleanPath(QFileInfo(folder).absoluteFilePath()) + QLatin1Char('/');
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath()).startsWith(f);
}

// A channel's records of one visit against what the history already holds: those it adds, and
// how many of them add a time to the history and how many conflict with a record held at their
// time. The history's records are compared as they stream past (Held), so that memory follows
// the visit, never the history (a controller whose every visit conflicts would otherwise hold
// all of them at once). Most of a visit overlaps the one before, and reading those records back
// is much cheaper than offering them again.
class ChannelRecords {
public:
    ChannelRecords(const ChannelSeries& series, const char* block)
        : series_(series), block_(block), inHistory_(series.time.size(), false) {
        byTime_.reserve(static_cast<qsizetype>(series.time.size()));
        for (std::size_t k = 0; k < series.time.size(); ++k)
            byTime_[static_cast<qint64>(series.time[k])].append(k);
    }

    // A record the history holds at time.
    void Held(qint64 time, const QByteArray& data) {
        const auto it = byTime_.constFind(time);
        if (it == byTime_.cend())
            return;
        timesHeld_.insert(time);
        for (std::size_t k : *it)
            if (RecordAt(k) == data)
                inHistory_[k] = true;
    }

    // Once every held record has passed: what the visit adds, its times as a JSON array and its
    // bytes as one blob, in the visit's order.
    struct New {
        qint64 times = 0;
        qint64 conflicts = 0;
        QByteArray timesJson;
        QByteArray data;
    };
    New TakeNew() {
        New added;
        added.timesJson = "[";
        for (std::size_t k = 0; k < series_.time.size(); ++k) {
            const auto time = static_cast<qint64>(series_.time[k]);
            if (inHistory_[k])
                continue;
            // The same record twice in one visit is offered once.
            const auto& sameTime = byTime_[time];
            if (std::any_of(sameTime.begin(), sameTime.end(),
                            [&](std::size_t j) { return j < k && RecordAt(j) == RecordAt(k); }))
                continue;
            // A record of a time not yet in the history adds a time; one more of a time there
            // already is a conflict.
            ++(timesHeld_.contains(time) ? added.conflicts : added.times);
            timesHeld_.insert(time);
            if (!added.data.isEmpty())
                added.timesJson += ',';
            added.timesJson += QByteArray::number(time);
            added.data += RecordAt(k);
        }
        added.timesJson += ']';
        return added;
    }

private:
    QByteArrayView RecordAt(std::size_t k) const {
        return {block_ + static_cast<std::ptrdiff_t>(series_.row[k] - 1) * ArchiveRecordSize,
                ArchiveRecordSize};
    }

    const ChannelSeries& series_;
    const char* block_;
    QHash<qint64, QVarLengthArray<std::size_t, 1>> byTime_; // the visit's records by time
    std::vector<bool> inHistory_;
    QSet<qint64> timesHeld_; // times with at least one record in the history
};

// The settings blocks kept after a channel's records, each that carries the marker: its number
// (from 1) and its bytes.
std::vector<std::pair<int, QByteArray>> SettingsBlocksOf(const char* channelBlock,
                                                         const ArchiveGeometry& geometry) {
    std::vector<std::pair<int, QByteArray>> blocks;
    const char* settings = channelBlock + geometry.recordAreaSize;
    for (int b = 0; b < SettingsBlockCount; ++b) {
        const char* blockBytes = settings + b * ArchiveRecordSize;
        if (static_cast<std::uint8_t>(blockBytes[ArchiveRecordSize - 1]) == SettingsBlockMarker)
            blocks.emplace_back(b + 1, QByteArray(blockBytes, ArchiveRecordSize));
    }
    return blocks;
}

} // namespace

struct LibraryIndex::Impl::AddStatements {
    explicit AddStatements(const QSqlDatabase& db)
        : insertRecords(db), insertSettings(db), existing(db), history(db), span(db) {
        existing.setForwardOnly(true);
        // A channel's new records go in with one statement: their times as a JSON array, their
        // bytes as one blob that SQLite takes apart. Binding the values of 8,000 rows one by one
        // through the toolkit costs more than SQLite's own work for them, and a statement with
        // the values in its text costs as much again to parse.
        insertRecords.prepare(
            QStringLiteral("INSERT OR IGNORE INTO records(serial, channels, channel, time, data, "
                           "visit_id) SELECT ?, ?, ?, t.value, substr(?, t.key * %1 + 1, %1), ? "
                           "FROM json_each(?) AS t")
                .arg(ArchiveRecordSize));
        insertSettings.prepare(QStringLiteral(
            "INSERT INTO settings(visit_id, channel, block, data) VALUES(?, ?, ?, ?)"));
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
    }

    QSqlQuery insertRecords, insertSettings, existing, history, span;
};

QString LibraryIndex::Impl::AddChannel(AddStatements& st, HistoryKey key, qint64 visit, int channel,
                                       const ChannelSeries& s, const char* block,
                                       const ArchiveGeometry& geometry) const {
    std::optional<qint64> oldest, newest;
    if (!s.Empty()) {
        oldest = static_cast<qint64>(s.time.front());
        newest = static_cast<qint64>(s.time.back());
    }
    ChannelRecords records(s, block);
    if (oldest) {
        for (const QVariant& value : {QVariant(key.serial), QVariant(key.channels),
                                      QVariant(channel), QVariant(*oldest), QVariant(*newest)})
            st.existing.addBindValue(value);
        if (!Exec(st.existing))
            return QStringLiteral("индекс не читается");
        while (st.existing.next())
            records.Held(st.existing.value(0).toLongLong(), st.existing.value(1).toByteArray());
        st.existing.finish();
    }
    const ChannelRecords::New added = records.TakeNew();
    if (!added.data.isEmpty()) {
        for (const QVariant& value :
             {QVariant(key.serial), QVariant(key.channels), QVariant(channel), QVariant(added.data),
              QVariant(visit), QVariant(QString::fromLatin1(added.timesJson))})
            st.insertRecords.addBindValue(value);
        if (!Exec(st.insertRecords))
            return QStringLiteral("записи не внесены в индекс");
    }
    if (oldest) {
        st.history.bindValue(QStringLiteral(":serial"), key.serial);
        st.history.bindValue(QStringLiteral(":channels"), key.channels);
        st.history.bindValue(QStringLiteral(":channel"), channel);
        st.history.bindValue(QStringLiteral(":records"), added.times);
        st.history.bindValue(QStringLiteral(":conflicts"), added.conflicts);
        st.history.bindValue(QStringLiteral(":first"), *oldest);
        st.history.bindValue(QStringLiteral(":last"), *newest);
        if (!Exec(st.history))
            return QStringLiteral("история не записана в индекс");
    }
    for (const QVariant& value :
         {QVariant(visit), QVariant(channel), QVariant(static_cast<qint64>(s.time.size())),
          Nullable(oldest), Nullable(newest), QVariant(static_cast<qint64>(s.logInterval))})
        st.span.addBindValue(value);
    if (!Exec(st.span))
        return QStringLiteral("визит не записан в индекс");
    for (const auto& [number, bytes] : SettingsBlocksOf(block, geometry)) {
        for (const QVariant& value :
             {QVariant(visit), QVariant(channel), QVariant(number), QVariant(bytes)})
            st.insertSettings.addBindValue(value);
        if (!Exec(st.insertSettings))
            return QStringLiteral("настройки не записаны в индекс");
    }
    return {};
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

    const HistoryKey key{*contents.serial, contents.channelCount};
    q.prepare(QStringLiteral(
        "INSERT INTO visits(sha256, file, serial, channels, identification, place, port, "
        "downloaded_ms, utc_offset) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(sha);
    q.addBindValue(file);
    q.addBindValue(key.serial);
    q.addBindValue(key.channels);
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
    AddStatements statements(db);
    const auto* bytes = reinterpret_cast<const char*>(contents.image.constData());
    for (int ch = 0; ch < static_cast<int>(series.size()); ++ch) {
        const char* block = bytes + static_cast<std::ptrdiff_t>(ch) * geometry.channelBlockSize;
        if (const QString what = AddChannel(statements, key, visit, ch + 1,
                                            series[static_cast<std::size_t>(ch)], block, geometry);
            !what.isEmpty())
            return fail(what);
    }
    if (!Exec(q, QStringLiteral("COMMIT")))
        return fail(QStringLiteral("индекс не записан"));
    result.outcome = AddOutcome::Added;
    result.file = file;
    return result;
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
