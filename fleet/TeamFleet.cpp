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
QString ReadServerList(const TeamServer& server, QByteArray& text) {
    const TeamServer::Bound bound = server.Bounded();
    QSqlQuery q(server.Database());
    if (!q.exec(QStringLiteral("SELECT port, address, name FROM kv_fleet ORDER BY position")))
        return QStringLiteral("список регуляторов на сервере не читается: %1")
            .arg(server.Gone() ? server.LostText(q.lastError()) : q.lastError().text());
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

// "(a, b, c), (d, e, f)": the rows of a multi-row INSERT, one statement for the whole list (one
// answer to wait for, whatever the list's length).
template <typename Row> QString Rows(const std::vector<FleetEntry>& entries, Row row) {
    QStringList rows;
    rows.reserve(static_cast<qsizetype>(entries.size()));
    int position = 0;
    for (const FleetEntry& e : entries)
        rows << u'(' + row(e, ++position) + u')';
    return rows.join(QStringLiteral(", "));
}

// The run to join: the newest one not finished and started less than twelve hours ago, else a
// new one with entries. Under a lock of the server's, so that collectors starting at once open
// one run between them. The run's id, or 0 with the cause in error.
qint64 JoinRun(const TeamServer& server, const std::vector<FleetEntry>& entries, QString& error) {
    QSqlDatabase db = server.Database();
    const QString claims = Rows(entries, [&](const FleetEntry& e, int) {
        return QStringLiteral("%1, %2, %3, %4")
            .arg(QString::number(e.line), Literal(db, e.port), QString::number(e.address),
                 Literal(db, e.name));
    });
    const TeamServer::Bound bound = server.Bounded(TransferAllowance(claims.size()));
    if (!db.transaction()) {
        error = server.LostText(db.lastError());
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
        return entries.empty() ||
               q.exec(QStringLiteral("INSERT INTO kv_fleet_claims(run_id, line, port, address, "
                                     "name) SELECT %1, line, port, address, name FROM (VALUES %2) "
                                     "AS v(line, port, address, name)")
                          .arg(QString::number(run), claims));
    }();
    const QSqlError failure = q.lastError();
    q.finish();
    if (!ok || !db.commit()) {
        error = server.LostText(ok ? db.lastError() : failure);
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
    const QString rows = Rows(entries, [&](const FleetEntry& e, int position) {
        return QStringLiteral("%1, %2, %3, %4")
            .arg(QString::number(position), Literal(db, e.port), QString::number(e.address),
                 Literal(db, e.name));
    });
    const TeamServer::Bound bound = connection.Bounded(TransferAllowance(rows.size()));
    if (!db.transaction())
        return connection.LostText(db.lastError());
    QSqlQuery q(db);
    const bool ok = q.exec(QStringLiteral("DELETE FROM kv_fleet")) &&
                    (entries.empty() ||
                     q.exec(QStringLiteral("INSERT INTO kv_fleet(position, port, address, name) "
                                           "VALUES ") +
                            rows));
    const QSqlError failure = q.lastError();
    q.finish();
    if (!ok) {
        db.rollback();
        return PrivilegeRefused(failure)
                   ? QStringLiteral("сервер не разрешает этой роли менять список регуляторов")
                   : QStringLiteral("список регуляторов на сервер не записан: %1")
                         .arg(connection.Gone() ? connection.LostText(failure) : failure.text());
    }
    if (!db.commit())
        return QStringLiteral("список регуляторов на сервер не записан: %1")
            .arg(connection.LostText(db.lastError()));
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
        pulled.error = ReadServerList(connection, pulled.text);
    return pulled;
}

namespace {

// How often a lost server is asked again.
constexpr qint64 ReconnectEveryMs = 1000;

} // namespace

TeamClaims::TeamClaims(const QString& server, int leaseSeconds)
    : address_(server), leaseSeconds_(std::max(1, leaseSeconds)),
      collector_(QStringLiteral("%1 %2")
                     .arg(QSysInfo::machineHostName())
                     .arg(QCoreApplication::applicationPid())) {
    server_.emplace(address_);
    refusal_ = server_->Error();
    if (refusal_.isEmpty() && !server_->HasFleet())
        refusal_ = NoFleetTables();
    QByteArray text;
    if (refusal_.isEmpty())
        refusal_ = ReadServerList(*server_, text);
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
    run_ = JoinRun(*server_, list_.entries, refusal_);
    sinceRenewal_.start();
}

void TeamClaims::End(const QString& cause) {
    if (ended_)
        return;
    ended_ = true;
    problems_ << cause + QStringLiteral("; собранное сохранено на этой машине, синхронизация "
                                        "отправит его на сервер");
}

void TeamClaims::Failed(const QSqlError& error) {
    if (!server_->Gone()) {
        End(server_->LostText(error));
        return;
    }
    if (broken_)
        return;
    broken_ = true;
    lostCause_ = server_->LostText(error);
    sinceLoss_.start();
    sinceTry_.invalidate(); // the first try at once
}

void TeamClaims::GiveUpWhenIdle() {
    if (broken_ && held_.empty() && sinceLoss_.elapsed() >= ServerConnectSeconds * 1000LL)
        End(lostCause_);
}

bool TeamClaims::Connected() {
    if (ended_)
        return false;
    if (!broken_)
        return true;
    if (sinceTry_.isValid() && sinceTry_.elapsed() < ReconnectEveryMs)
        return false;
    // The old connection goes first: its name is not reused, but its socket is.
    server_.reset();
    server_.emplace(address_);
    sinceTry_.start(); // the pause counts from the end of the try
    if (!server_->Error().isEmpty() || !server_->HasFleet())
        return false;
    broken_ = false;
    // What this collector holds first, before another collector can take it.
    return Renew() && WriteOutcomes();
}

QString TeamClaims::HeldLines(bool in) const {
    if (held_.empty())
        return {};
    QStringList lines;
    for (int line : held_)
        lines << QString::number(line);
    return QStringLiteral(" AND line %1 (%2)")
        .arg(in ? QStringLiteral("IN") : QStringLiteral("NOT IN"), lines.join(u','));
}

QString TeamClaims::OnlyPorts(const QSqlDatabase& db) const {
    if (only_.isEmpty())
        return {};
    QStringList ports;
    for (const QString& port : only_)
        ports << Literal(db, port);
    return QStringLiteral(" AND port IN (%1)").arg(ports.join(u','));
}

bool TeamClaims::Renew() {
    sinceRenewal_.restart();
    if (held_.empty())
        return true;
    const TeamServer::Bound bound = server_->Bounded();
    QSqlQuery q(server_->Database());
    // Only what this collector reads: a claim it lost to another collector stays the other's.
    if (!q.exec(QStringLiteral("UPDATE kv_fleet_claims "
                               "SET leased_until = now() + make_interval(secs => %1) "
                               "WHERE run_id = %2 AND collector = %3 AND done_at IS NULL%4")
                    .arg(QString::number(leaseSeconds_), QString::number(run_),
                         Literal(server_->Database(), collector_), HeldLines(true)))) {
        Failed(q.lastError());
        return false;
    }
    return true;
}

bool TeamClaims::WriteOutcomes() {
    const TeamServer::Bound bound = server_->Bounded();
    QSqlQuery q(server_->Database());
    while (!outcomes_.empty()) {
        const auto& [line, outcome] = outcomes_.front();
        // Written only while the claim is still this collector's: a controller whose lease ran
        // out and another collector took is that collector's to report.
        if (!q.exec(QStringLiteral("UPDATE kv_fleet_claims SET done_at = now(), outcome = %1 "
                                   "WHERE run_id = %2 AND line = %3 AND collector = %4 "
                                   "AND done_at IS NULL")
                        .arg(Literal(server_->Database(), outcome), QString::number(run_),
                             QString::number(line), Literal(server_->Database(), collector_)))) {
            Failed(q.lastError());
            return false;
        }
        outcomes_.erase(outcomes_.begin());
    }
    return true;
}

FleetClaims::Answer TeamClaims::Next(FleetEntry& entry) {
    if (ended_ || run_ == 0)
        return Answer::End;
    if (!Connected()) {
        GiveUpWhenIdle();
        return ended_ ? Answer::End : Answer::Wait;
    }
    auto failed = [&](const QSqlError& error) {
        Failed(error);
        return ended_ ? Answer::End : Answer::Wait;
    };
    const TeamServer::Bound bound = server_->Bounded();
    QSqlDatabase db = server_->Database();
    QSqlQuery q(db);
    // One statement, one transaction: the first controller not done whose lease is free or
    // over, skipping rows another collector is taking this very moment, and those this one reads.
    if (!q.exec(QStringLiteral("UPDATE kv_fleet_claims SET collector = %1, "
                               "leased_until = now() + make_interval(secs => %2) "
                               "WHERE (run_id, line) = (SELECT run_id, line FROM kv_fleet_claims "
                               "WHERE run_id = %3 AND done_at IS NULL "
                               "AND (leased_until IS NULL OR leased_until < now())%4%5 "
                               "ORDER BY line LIMIT 1 FOR UPDATE SKIP LOCKED) "
                               "RETURNING line, port, address, name")
                    .arg(Literal(db, collector_), QString::number(leaseSeconds_),
                         QString::number(run_), HeldLines(false), OnlyPorts(db))))
        return failed(q.lastError());
    if (q.next()) {
        entry.line = q.value(0).toInt();
        entry.port = q.value(1).toString();
        entry.address = q.value(2).toInt();
        entry.name = q.value(3).toString();
        held_.insert(entry.line);
        return Answer::Claimed;
    }
    if (!only_.isEmpty())
        return Answer::End; // the ports asked for are read, or being read, by someone
    // Nothing free: others' controllers are still being read (or wait for their leases to end),
    // or the run is over.
    if (!q.exec(QStringLiteral("SELECT count(*) FROM kv_fleet_claims "
                               "WHERE run_id = %1 AND done_at IS NULL")
                    .arg(run_)) ||
        !q.next())
        return failed(q.lastError());
    if (q.value(0).toLongLong() > 0)
        return Answer::Wait;
    q.exec(QStringLiteral("UPDATE kv_fleet_runs SET finished = now() "
                          "WHERE run_id = %1 AND finished IS NULL")
               .arg(run_));
    return Answer::End;
}

void TeamClaims::Done(const FleetEntry& entry, const FleetResult& result) {
    held_.erase(entry.line);
    if (ended_)
        return;
    outcomes_.emplace_back(entry.line, FleetOutcomeText(result));
    if (!broken_)
        WriteOutcomes();
}

void TeamClaims::Tick() {
    if (ended_ || run_ == 0)
        return;
    if (broken_) {
        if (!Connected())
            GiveUpWhenIdle();
        return;
    }
    if (sinceRenewal_.elapsed() >= leaseSeconds_ * 1000 / 3)
        Renew();
}
