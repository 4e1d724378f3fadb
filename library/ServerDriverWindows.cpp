#include "ServerDriver.h"

// The Windows program is linked statically with SQLite only: no PostgreSQL client is built in.
QString MissingServerDriverText() {
    return QStringLiteral("в программе для Windows нет драйвера PostgreSQL: общая библиотека "
                          "на сервере доступна в программе для Linux");
}

QString ServerStringRefusal(const QString&) {
    return MissingServerDriverText();
}

void QuietServerNotices(const QSqlDatabase&) {}

QString BoundedWaitOptions(int, int) {
    return {};
}

qintptr ServerSocket(const QSqlDatabase&) {
    return -1;
}

void CutServerSocket(qintptr) {}

bool ServerConnectionGone(const QSqlDatabase&) {
    return true;
}
