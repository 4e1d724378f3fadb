#pragma once

// The fleet on the team's server (docs/library.sql): the office keeps the fleet list there, and
// collectors on several machines share one run of it. A run is the newest one not finished and
// started less than twelve hours ago (so that collectors started the same night share it); the
// first collector that finds none opens one with the list as it is then. Each controller of a
// run is claimed before it is read: the claim is a row taken with a row lock that other
// collectors skip (so two never take the same one), and it holds a lease, renewed while its
// collector lives, after which another collector may take it. A collector that dies thus leaves
// its controllers to the others when their leases end. The server is the only shared state.
//
// Failures are results: a refusal (no server, no fleet tables, no list) before anything is
// claimed; the server lost midway ends the claiming, what was claimed is still read and kept on
// this machine, and Problems() says that the sync will catch up.

#include "FleetClaims.h"
#include "FleetList.h"
#include "TeamServer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

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

    Answer Next(FleetEntry& entry) override;
    void Done(const FleetEntry& entry, const FleetResult& result) override;
    void Tick() override;

private:
    void Lost(const QString& what);

    TeamServer server_;
    int leaseSeconds_;
    QString collector_;
    QString refusal_;
    FleetList list_;
    qint64 run_ = 0;
    bool lost_ = false;
    QStringList problems_;
    QElapsedTimer sinceRenewal_;
};
