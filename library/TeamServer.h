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
// A connection belongs to the thread that made it (Qt's rule for database connections).

#include <QSqlDatabase>
#include <QString>

class QSqlError;
class QVariant;

// The server's schema version this program writes and reads (the downloads'; the fleet's tables
// have a version of their own, "fleet_schema" in kv_meta).
constexpr int ServerSchemaVersion = 1;

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

private:
    QString name_;
    QString error_;
    bool fleet_ = false;
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
