#include "ServerDriver.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <algorithm>
#include <cstdlib>

#include <libpq-fe.h>

namespace {

// The sslmode the connection would use short of a service file: the string's own (libpq's
// parser reads the old requiressl=1 as sslmode=require), else the environment's.
QString AskedSslMode(const PQconninfoOption* options) {
    for (const PQconninfoOption* o = options; o->keyword; ++o)
        if (o->val && qstrcmp(o->keyword, "sslmode") == 0)
            return QString::fromUtf8(o->val);
    if (const char* mode = std::getenv("PGSSLMODE"); mode && *mode)
        return QString::fromUtf8(mode);
    if (const char* required = std::getenv("PGREQUIRESSL"); required && *required == '1')
        return QStringLiteral("require");
    return {};
}

} // namespace

bool ServerClientHasTls() {
    // Asked without a connection, the client library names the TLS library it was built with.
    return PQsslAttribute(nullptr, "library") != nullptr;
}

QString ServerTlsRefusal(const QString& sslmode, bool clientHasTls) {
    static const QStringList kEncrypted = {QStringLiteral("require"), QStringLiteral("verify-ca"),
                                           QStringLiteral("verify-full")};
    if (clientHasTls || !kEncrypted.contains(sslmode))
        return {};
    return QStringLiteral("клиент PostgreSQL этой программы собран без шифрования (TLS), а "
                          "[Library] Server= требует его (sslmode=%1): без шифрования связь не "
                          "начата. Для сервера в доверенной сети уберите sslmode или задайте "
                          "sslmode=disable, иначе синхронизируйте программой для Linux")
        .arg(sslmode);
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
    const QString sslmode = AskedSslMode(options);
    PQconninfoFree(options);
    if (password)
        return QStringLiteral("пароль в файле настроек не хранится: уберите password из "
                              "[Library] Server= и запишите его %1")
            .arg(PasswordPlacesText());
    return ServerTlsRefusal(sslmode, ServerClientHasTls());
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

bool ServerConnectionGone(const QSqlDatabase& db) {
    PGconn* connection = Connection(db);
    return !connection || PQstatus(connection) == CONNECTION_BAD;
}
