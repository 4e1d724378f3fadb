#include "LibraryIndex.h"

#include "LibraryIndexImpl.h"
#include "VisitGaps.h"

#include <algorithm>
#include <map>

namespace {

std::optional<qint64> OptionalInt(const QVariant& v) {
    return v.isNull() ? std::nullopt : std::optional<qint64>(v.toLongLong());
}

// A download time as stored; NULL (a download of unknown time) gives an invalid time.
QDateTime DownloadTime(const QVariant& ms, int offset) {
    return ms.isNull() ? QDateTime()
                       : QDateTime::fromMSecsSinceEpoch(ms.toLongLong(), Qt::OffsetFromUTC, offset);
}

} // namespace

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
