#pragma once

// The fleet on the team's server (docs/library.sql): the office keeps the fleet list there, and
// collectors on several machines share one run of it. A run is the newest one not finished and
// started less than twelve hours ago (so that collectors started the same night share it); the
// first collector that finds none opens one with the list as it is then. Each controller of a
// run is claimed before it is read: the claim is a row taken with a row lock that other
// collectors skip (so two never take the same one), and it holds a lease, renewed while its
// collector lives, after which another collector may take it. A collector that dies thus leaves
// its controllers to the others when their leases end. The server is the only shared state. A
// claim's outcome is written by the collector that holds the claim, and only while it holds it.
//
// Failures are results: a refusal (no server, no fleet tables, no list) before anything is
// claimed. A connection lost midway (a server restarted, a wait beyond its bound, TeamServer.h) is
// made again, about once a second, without ever holding up the reads: meanwhile nothing more is
// claimed, and the outcomes wait to be written. Once the server has been away for
// ServerConnectSeconds with nothing of this collector's left to read, or a statement is refused
// on a sound connection, the claiming ends: what was claimed is still read and kept on this
// machine, and Problems() says that the sync will catch up.

#include "FleetClaims.h"
#include "FleetList.h"
#include "TeamServer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <optional>
#include <set>
#include <utility>
#include <vector>

// Replaces the server's list with entries. The cause of a failure, or an empty text.
QString PushFleetList(const QString& server, const std::vector<FleetEntry>& entries);

struct PulledFleetList {
    QString error;     // why the list cannot be read
    bool none = false; // the server has never held a fleet (error says so)
    QByteArray text;   // in the file's form (FleetList.h); the header alone when the list is empty
};
PulledFleetList PullFleetList(const QString& server);

// The lease of a claim when the settings give none, in seconds.
constexpr int DefaultFleetLeaseSeconds = 300;

class TeamClaims final : public FleetClaims {
public:
    // Connects to server, reads its list and joins the run (or opens one). leaseSeconds: how
    // long a claim holds without being renewed (renewed every third of it).
    TeamClaims(const QString& server, int leaseSeconds);

    // Nothing can be collected, and why; empty when the run was joined.
    const QString& Refusal() const { return refusal_; }
    // The server's list as read (its skipped lines are to be said).
    const FleetList& List() const { return list_; }
    // What failed with the server after the run was joined.
    const QStringList& Problems() const { return problems_; }

    // Only the controllers at these ports are claimed (a modem collected on its call), and the
    // claiming ends, rather than waits for the others' controllers, when none of them is free:
    // one read already under way or done in the run is not doubled.
    void ClaimOnly(const QStringList& ports) { only_ = ports; }

    Answer Next(FleetEntry& entry) override;
    void Done(const FleetEntry& entry, const FleetResult& result) override;
    void Tick() override;

private:
    // Whether the server can be asked now; after a lost connection, a new one is tried (at most
    // once a second), and on success the claims held are renewed and the outcomes kept meanwhile
    // written.
    bool Connected();
    // A call failed: a lost connection is tried again (Connected); a refusal of the server's on a
    // sound connection ends the claiming.
    void Failed(const QSqlError& error);
    // The server away for a while and nothing of this collector's left to read: the claiming ends.
    void GiveUpWhenIdle();
    void End(const QString& cause);
    bool Renew();
    bool WriteOutcomes();
    // " AND line IN (...)" / " AND line NOT IN (...)" of the lines held, or empty when none.
    QString HeldLines(bool in) const;
    // " AND port IN (...)" of the ports claimed only, or empty.
    QString OnlyPorts(const QSqlDatabase& db) const;

    QString address_;
    std::optional<TeamServer> server_;
    int leaseSeconds_;
    QString collector_;
    QString refusal_;
    FleetList list_;
    qint64 run_ = 0;
    bool ended_ = false;  // the claiming ended for good
    bool broken_ = false; // the connection is lost; a new one is tried
    QString lostCause_;
    QElapsedTimer sinceLoss_;
    QElapsedTimer sinceTry_;
    QStringList only_;                              // empty: every controller of the run
    std::set<int> held_;                            // lines claimed and not yet done here
    std::vector<std::pair<int, QString>> outcomes_; // done here, not yet written: line, outcome
    QStringList problems_;
    QElapsedTimer sinceRenewal_;
};
