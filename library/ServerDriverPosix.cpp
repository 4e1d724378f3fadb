#include "ServerDriver.h"

#include <sys/socket.h>

QString MissingServerDriverText() {
    return QStringLiteral("драйвер PostgreSQL для Qt не установлен (пакет libqt6sql6-psql)");
}

QString PasswordPlacesText() {
    return QStringLiteral("в файл паролей ~/.pgpass или в файл служб ~/.pg_service.conf");
}

void CutServerSocket(qintptr socket) {
    if (socket >= 0)
        ::shutdown(static_cast<int>(socket), SHUT_RDWR);
}
