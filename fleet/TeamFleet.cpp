#include "TeamFleet.h"

#include "FleetTable.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>

#include <algorithm>

namespace {

QString NoFleetTables() {
    return QStringLiteral("на сервере нет таблиц списка регуляторов, а создать их этой роли не "
                          "разрешено (их создаёт администратор по docs/library.sql)");
}

// The server's list in the file's form, or the cause it cannot be read.
QString ReadServerList(const QSqlDatabase& db, QByteArray& text) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT port, address, name FROM kv_fleet ORDER BY position")))
        return QStringLiteral("список регуляторов на сервере не читается: %1")
            .arg(q.lastError().text());
    std::vector<FleetEntry> entries;
    while (q.next()) {
        FleetEntry entry;
        entry.port = q.value(0).toString();
        entry.address = q.value(1).toInt();
        entry.name = q.value(2).toString();
        entries.push_back(entry);
    }
    text = FormatFleetList(entries);
    return {};
}

// The run to join: the newest one not finished and started less than twelve hours ago, else a
// new one with entries. Under a lock of the server's, so that collectors starting at once open
// one run between them. The run's id, or 0 with the cause in error.
qint64 JoinRun(QSqlDatabase db, const std::vector<FleetEntry>& entries, QString& error) {
    if (!db.transaction()) {
        error = ServerLost(db.lastError());
        return 0;
    }
    QSqlQuery q(db);
    qint64 run = 0;
    const bool ok = [&] {
        if (!q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(9001)")) ||
            !q.exec(QStringLiteral("SELECT run_id FROM kv_fleet_runs WHERE finished IS NULL AND "
                                   "started > now() - interval '12 hours' "
                                   "ORDER BY run_id DESC LIMIT 1")))
            return false;
        if (q.next()) {
            run = q.value(0).toLongLong();
            return true;
        }
        if (!q.exec(QStringLiteral("INSERT INTO kv_fleet_runs DEFAULT VALUES RETURNING run_id")) ||
            !q.next())
            return false;
        run = q.value(0).toLongLong();
        for (const FleetEntry& e : entries)
            if (!q.exec(QStringLiteral("INSERT INTO kv_fleet_claims(run_id, line, port, address, "
                                       "name) VALUES(%1, %2, %3, %4, %5)")
                            .arg(QString::number(run), QString::number(e.line), Literal(db, e.port),
                                 QString::number(e.address), Literal(db, e.name))))
                return false;
        return true;
    }();
    const QSqlError failure = q.lastError();
    q.finish();
    if (!ok || !db.commit()) {
        error = ServerLost(ok ? db.lastError() : failure);
        db.rollback();
        return 0;
    }
    return run;
}

} // namespace

QString PushFleetList(const QString& server, const std::vector<FleetEntry>& entries) {
    const TeamServer connection(server);
    if (!connection.Error().isEmpty())
        return connection.Error();
    if (!connection.HasFleet())
        return NoFleetTables();
    QSqlDatabase db = connection.Database();
    if (!db.transaction())
        return ServerLost(db.lastError());
    QSqlQuery q(db);
    bool ok = q.exec(QStringLiteral("DELETE FROM kv_fleet"));
    int position = 0;
    for (auto it = entries.begin(); ok && it != entries.end(); ++it)
        ok = q.exec(QStringLiteral("INSERT INTO kv_fleet(position, port, address, name) "
                                   "VALUES(%1, %2, %3, %4)")
                        .arg(QString::number(++position), Literal(db, it->port),
                             QString::number(it->address), Literal(db, it->name)));
    const QSqlError failure = q.lastError();
    q.finish();
    if (!ok) {
        db.rollback();
        return PrivilegeRefused(failure)
                   ? QStringLiteral("сервер не разрешает этой роли менять список регуляторов")
                   : QStringLiteral("список регуляторов на сервер не записан: %1")
                         .arg(failure.text());
    }
    if (!db.commit())
        return QStringLiteral("список регуляторов на сервер не записан: %1")
            .arg(db.lastError().text());
    return {};
}

PulledFleetList PullFleetList(const QString& server) {
    PulledFleetList pulled;
    const TeamServer connection(server);
    pulled.error = connection.Error();
    if (pulled.error.isEmpty() && !connection.HasFleet()) {
        pulled.error = NoFleetTables();
        pulled.none = true;
    }
    if (pulled.error.isEmpty())
        pulled.error = ReadServerList(connection.Database(), pulled.text);
    return pulled;
}

TeamClaims::TeamClaims(const QString& server, int leaseSeconds)
    : server_(server), leaseSeconds_(std::max(1, leaseSeconds)),
      collector_(QStringLiteral("%1 %2")
                     .arg(QSysInfo::machineHostName())
                     .arg(QCoreApplication::applicationPid())) {
    refusal_ = server_.Error();
    if (refusal_.isEmpty() && !server_.HasFleet())
        refusal_ = NoFleetTables();
    QByteArray text;
    if (refusal_.isEmpty())
        refusal_ = ReadServerList(server_.Database(), text);
    if (!refusal_.isEmpty())
        return;
    list_ = ParseFleetList(text);
    if (!list_.refusal.isEmpty()) {
        refusal_ = QStringLiteral("список регуляторов на сервере: %1").arg(list_.refusal);
        return;
    }
    if (list_.entries.empty() && list_.skipped.isEmpty()) {
        refusal_ = QStringLiteral("на сервере нет списка регуляторов (его кладёт туда "
                                  "kv9000 --fleet-push FLEET.tsv)");
        return;
    }
    run_ = JoinRun(server_.Database(), list_.entries, refusal_);
    sinceRenewal_.start();
}

void TeamClaims::Lost(const QString& what) {
    if (lost_)
        return;
    lost_ = true;
    problems_ << what + QStringLiteral("; собранное сохранено на этой машине, синхронизация "
                                       "отправит его на сервер");
}

FleetClaims::Answer TeamClaims::Next(FleetEntry& entry) {
    if (lost_ || run_ == 0)
        return Answer::End;
    QSqlQuery q(server_.Database());
    // One statement, one transaction: the first controller not done whose lease is free or
    // over, skipping rows another collector is taking this very moment.
    if (!q.exec(QStringLiteral("UPDATE kv_fleet_claims SET collector = %1, "
                               "leased_until = now() + make_interval(secs => %2) "
                               "WHERE (run_id, line) = (SELECT run_id, line FROM kv_fleet_claims "
                               "WHERE run_id = %3 AND done_at IS NULL "
                               "AND (leased_until IS NULL OR leased_until < now()) "
                               "ORDER BY line LIMIT 1 FOR UPDATE SKIP LOCKED) "
                               "RETURNING line, port, address, name")
                    .arg(Literal(server_.Database(), collector_), QString::number(leaseSeconds_),
                         QString::number(run_)))) {
        Lost(ServerLost(q.lastError()));
        return Answer::End;
    }
    if (q.next()) {
        entry.line = q.value(0).toInt();
        entry.port = q.value(1).toString();
        entry.address = q.value(2).toInt();
        entry.name = q.value(3).toString();
        return Answer::Claimed;
    }
    // Nothing free: others' controllers are still being read (or wait for their leases to end),
    // or the run is over.
    if (!q.exec(QStringLiteral("SELECT count(*) FROM kv_fleet_claims "
                               "WHERE run_id = %1 AND done_at IS NULL")
                    .arg(run_)) ||
        !q.next()) {
        Lost(ServerLost(q.lastError()));
        return Answer::End;
    }
    if (q.value(0).toLongLong() > 0)
        return Answer::Wait;
    q.exec(QStringLiteral("UPDATE kv_fleet_runs SET finished = now() "
                          "WHERE run_id = %1 AND finished IS NULL")
               .arg(run_));
    return Answer::End;
}

void TeamClaims::Done(const FleetEntry& entry, const FleetResult& result) {
    if (lost_)
        return;
    QSqlQuery q(server_.Database());
    if (!q.exec(QStringLiteral("UPDATE kv_fleet_claims SET done_at = now(), outcome = %1 "
                               "WHERE run_id = %2 AND line = %3 AND done_at IS NULL")
                    .arg(Literal(server_.Database(), FleetOutcomeText(result)),
                         QString::number(run_), QString::number(entry.line))))
        Lost(ServerLost(q.lastError()));
}

void TeamClaims::Tick() {
    if (lost_ || run_ == 0 || sinceRenewal_.elapsed() < leaseSeconds_ * 1000 / 3)
        return;
    sinceRenewal_.restart();
    QSqlQuery q(server_.Database());
    if (!q.exec(QStringLiteral("UPDATE kv_fleet_claims "
                               "SET leased_until = now() + make_interval(secs => %1) "
                               "WHERE run_id = %2 AND collector = %3 AND done_at IS NULL")
                    .arg(QString::number(leaseSeconds_), QString::number(run_),
                         Literal(server_.Database(), collector_))))
        Lost(ServerLost(q.lastError()));
}
