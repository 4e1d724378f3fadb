#include "ServerDriver.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QVariant>

#include <libpq-fe.h>

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

void QuietServerNotices(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (handle.isValid() && qstrcmp(handle.typeName(), "PGconn*") == 0)
        if (PGconn* connection = *static_cast<PGconn* const*>(handle.constData()))
            PQsetNoticeProcessor(
                connection, [](void*, const char*) {}, nullptr);
}
