#pragma once
// The team library's PostgreSQL client, where it differs by system: what to say when Qt has no
// PostgreSQL driver, and how the client reads a connection string.

#include <QString>

QString MissingServerDriverText();

// The cause of refusing the libpq connection string server (keyword=value pairs separated by
// spaces, as the connection will be given it), or an empty text. The string is read by the
// client library's own parser, so that what is checked is what connects: one that does not
// parse is refused, and so is any password in it, however it is written (passwords belong in
// libpq's password file or service file). The cause never quotes the string. Where the program
// has no PostgreSQL client, every string is refused with MissingServerDriverText().
QString ServerStringRefusal(const QString& server);

class QSqlDatabase;

// Keeps the client library from printing the server's notices on standard error (a connection
// ended by the server is announced there as "FATAL: ..."): the sync says in its own words what
// failed. Nothing where the program has no PostgreSQL client.
void QuietServerNotices(const QSqlDatabase& db);
