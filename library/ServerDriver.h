#pragma once
// The team library's PostgreSQL client (libpq, under Qt's driver): how it reads a connection
// string, what it can give, how a connection's waits are bounded and cut; and where that differs
// by system (what to say when Qt has no PostgreSQL driver, where passwords go, the socket).

#include <QString>
#include <QtGlobal>

QString MissingServerDriverText();

// Where the client library looks for a password on this system, as the user reads it ("в файл
// паролей ..."), to end a sentence that says where the password goes.
QString PasswordPlacesText();

// The cause of refusing the libpq connection string server (keyword=value pairs separated by
// spaces, as the connection will be given it), or an empty text. The string is read by the
// client library's own parser, so that what is checked is what connects: one that does not
// parse is refused, and so is any password in it, however it is written (passwords belong in
// libpq's password file or service file), and so is a string that asks for TLS (sslmode require,
// verify-ca, verify-full; or PGSSLMODE, PGREQUIRESSL when the string does not say) from a client
// built without it, rather than leave the refusal to the client's own English words. The cause
// never quotes the string.
QString ServerStringRefusal(const QString& server);

// Whether the client library was built with TLS (the Windows program's is not).
bool ServerClientHasTls();

// The cause of refusing a connection that asks for sslmode from a client with or without TLS, or
// an empty text: only the modes that require encryption are refused, and only without TLS.
QString ServerTlsRefusal(const QString& sslmode, bool clientHasTls);

class QSqlDatabase;

// Keeps the client library from printing the server's notices on standard error (a connection
// ended by the server is announced there as "FATAL: ..."): the sync says in its own words what
// failed.
void QuietServerNotices(const QSqlDatabase& db);

// The connection options that bound every wait on the server short of a statement's answer: a
// connection attempt (connect_timeout), a peer that went away while idle or while a statement
// waits (TCP keep-alives), data sent and never acknowledged (tcp_user_timeout, where the client
// library knows it). connectSeconds and deadSeconds are the limits; the keep-alives declare the
// peer dead after deadSeconds of silence. In keyword=value form, to be put before the user's own
// string so that a value the user gives wins.
QString BoundedWaitOptions(int connectSeconds, int deadSeconds);

// The socket of an open connection, or -1 (none).
qintptr ServerSocket(const QSqlDatabase& db);

// Cuts the connection on socket in both directions without closing the descriptor (the
// connection's owner still does): a call blocked on it returns at once with the client's
// "server closed the connection" failure. Safe from any thread.
void CutServerSocket(qintptr socket);

// Whether the connection itself is gone (ended by the server, cut, never opened), as opposed to a
// statement the server refused on a sound connection.
bool ServerConnectionGone(const QSqlDatabase& db);
