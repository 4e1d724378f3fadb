#pragma once

// A connection to the team's server (a PostgreSQL database, docs/library.sql) with its schema
// ready: created on first use when the role may, brought from an older version to this
// program's when the role may, and refused when it is newer or another program's. The team
// library's sync and the fleet's shared runs both talk to the server through it.
//
// The fleet's tables are added beside the downloads' without changing the schema's version:
// programs that know no fleet keep syncing with a server that has one. Failures are results:
// Error() says why there is no usable connection. A role that may use the library but not add
// the fleet's tables keeps the sync; HasFleet() then says false and the fleet's commands refuse.
//
// Every wait on the server is bounded, so that a server gone or stalled ends in a failure, never
// in a wait without end: the connection attempt (ServerConnectSeconds), a peer gone while a call
// waits (TCP keep-alives, ServerDeadSeconds), a lock the server waits for (its lock_timeout,
// ServerAnswerSeconds), and any call made under Bounded(): a call that has not returned within its
// allowance is ended by cutting the connection (ServerWatch.h). A connection string's own values
// of connect_timeout, keepalives* and tcp_user_timeout win over these.
//
// A connection belongs to the thread that made it (Qt's rule for database connections).

#include "ServerWatch.h"

#include <QSqlDatabase>
#include <QString>

#include <chrono>

class QSqlError;
class QVariant;

// The server's schema version this program writes and reads (the downloads'; the fleet's tables
// have a version of their own, "fleet_schema" in kv_meta).
constexpr int ServerSchemaVersion = 1;

// How long a connection attempt may take.
constexpr int ServerConnectSeconds = 5;
// How long a call of a few small statements may wait for the server's answer: far beyond what a
// sound server on a slow network needs, short enough that a collection's claims outlive a lost
// server.
constexpr int ServerAnswerSeconds = 10;
// After how long a silent peer counts as gone (keep-alives, data sent and not acknowledged).
constexpr int ServerDeadSeconds = 30;

// The allowance of a call that carries bytes to or from the server (a download's file): the
// answer's time and the bytes at 16 KiB/s, a slow mobile line's pace.
std::chrono::seconds TransferAllowance(qint64 bytes);

class TeamServer {
public:
    // Connects to the server given by a libpq connection string in keyword=value form (checked
    // first, CheckServerString) and prepares its schema.
    explicit TeamServer(const QString& server);
    ~TeamServer();
    TeamServer(const TeamServer&) = delete;
    TeamServer& operator=(const TeamServer&) = delete;

    // Why there is no usable connection; empty when connected with the schema ready.
    const QString& Error() const { return error_; }
    // The connection (valid only while this object lives and Error() is empty).
    QSqlDatabase Database() const;
    // Whether the fleet's tables are there.
    bool HasFleet() const { return fleet_; }

    // While the returned object lives, a call on the connection that has not returned within
    // allowance is ended by cutting the connection (Gone() is then true). One at a time on a
    // connection: a second one replaces the first's allowance and ends the bound with it.
    class Bound {
    public:
        ~Bound();
        Bound(const Bound&) = delete;
        Bound& operator=(const Bound&) = delete;

    private:
        friend class TeamServer;
        Bound(const TeamServer& server, std::chrono::seconds allowance);
        const TeamServer& server_;
    };
    [[nodiscard]] Bound
    Bounded(std::chrono::seconds allowance = std::chrono::seconds(ServerAnswerSeconds)) const;

    // Whether the connection itself is gone (ended by the server, cut by the bound, never
    // opened), as opposed to a statement the server refused on a sound connection.
    bool Gone() const;
    // "связь с сервером прервалась: ..." for a call that failed: the server's or the client's
    // words, or that the server did not answer within the call's allowance.
    QString LostText(const QSqlError& error) const;

private:
    QString name_;
    QString error_;
    bool fleet_ = false;
    mutable ServerWatch watch_;
    mutable std::chrono::seconds allowance_{0};
};

// The connection string's cause of refusal, or an empty text: empty, not readable by libpq's
// own parser, or a password in it however written (passwords belong in libpq's password file or
// service file, never in our settings). Qt's ';' separator is read as a space, as Qt sends it.
// The cause never quotes the string.
QString CheckServerString(const QString& server);

// A value as an SQL literal, escaped by the driver. Statements go to the server whole instead of
// prepared: a prepared statement is freed on the server when its query goes, and after a lost
// connection Qt could only warn on standard error that it was not.
QString Literal(const QSqlDatabase& db, const QVariant& value);

// SQLSTATE 42501: the role lacks the privilege.
bool PrivilegeRefused(const QSqlError& error);

// "связь с сервером прервалась: <the server's words>".
QString ServerLost(const QSqlError& error);
