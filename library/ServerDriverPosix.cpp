#include "ServerDriver.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <algorithm>

#include <libpq-fe.h>
#include <sys/socket.h>

QString MissingServerDriverText() {
    return QStringLiteral("драйвер PostgreSQL для Qt не установлен (пакет libqt6sql6-psql)");
}

QString ServerStringRefusal(const QString& server) {
    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(server.toUtf8().constData(), &parseError);
    if (!options) {
        // libpq's message quotes the string; it is not shown.
        PQfreemem(parseError);
        return QStringLiteral("строка сервера в [Library] Server= не разбирается: нужны пары "
                              "ключ=значение через пробел (host=… dbname=… user=…)");
    }
    bool password = false;
    for (const PQconninfoOption* o = options; o->keyword; ++o)
        if (o->val && qstrcmp(o->keyword, "password") == 0)
            password = true;
    PQconninfoFree(options);
    if (password)
        return QStringLiteral("пароль в файле настроек не хранится: уберите password из "
                              "[Library] Server= и запишите его в файл паролей ~/.pgpass или в "
                              "файл служб ~/.pg_service.conf");
    return {};
}

namespace {

// The client library's connection behind db, or none. Qt names the handle's type by the
// structure behind libpq's typedef ("pg_conn*"); older Qt by the typedef.
PGconn* Connection(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (handle.isValid() &&
        (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0))
        return *static_cast<PGconn* const*>(handle.constData());
    return nullptr;
}

// Whether the client library reads keyword (tcp_user_timeout came with PostgreSQL 12).
bool ClientKnows(const char* keyword) {
    PQconninfoOption* options = PQconndefaults();
    bool known = false;
    for (const PQconninfoOption* o = options; o && o->keyword; ++o)
        known = known || qstrcmp(o->keyword, keyword) == 0;
    PQconninfoFree(options);
    return known;
}

} // namespace

void QuietServerNotices(const QSqlDatabase& db) {
    if (PGconn* connection = Connection(db))
        PQsetNoticeProcessor(
            connection, [](void*, const char*) {}, nullptr);
}

QString BoundedWaitOptions(int connectSeconds, int deadSeconds) {
    // Silence for a third of the limit, then three unanswered probes spread over the rest.
    const int idle = std::max(1, deadSeconds / 3);
    const int interval = std::max(1, (deadSeconds - idle) / 3);
    QString options = QStringLiteral("connect_timeout=%1 keepalives=1 keepalives_idle=%2 "
                                     "keepalives_interval=%3 keepalives_count=3 ")
                          .arg(connectSeconds)
                          .arg(idle)
                          .arg(interval);
    if (ClientKnows("tcp_user_timeout"))
        options += QStringLiteral("tcp_user_timeout=%1 ").arg(deadSeconds * 1000);
    return options;
}

qintptr ServerSocket(const QSqlDatabase& db) {
    PGconn* connection = Connection(db);
    return connection ? PQsocket(connection) : -1;
}

void CutServerSocket(qintptr socket) {
    if (socket >= 0)
        ::shutdown(static_cast<int>(socket), SHUT_RDWR);
}

bool ServerConnectionGone(const QSqlDatabase& db) {
    PGconn* connection = Connection(db);
    return !connection || PQstatus(connection) == CONNECTION_BAD;
}
