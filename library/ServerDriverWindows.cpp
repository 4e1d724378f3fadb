#include "ServerDriver.h"

#include <winsock2.h>

// The Windows program has Qt's PostgreSQL driver linked in: its absence is a broken build.
QString MissingServerDriverText() {
    return QStringLiteral("в программу не встроен драйвер PostgreSQL для Qt");
}

// The client library reads the password file from the user's roaming application data folder.
QString PasswordPlacesText() {
    return QStringLiteral("в файл паролей %APPDATA%\\postgresql\\pgpass.conf или в файл служб "
                          "%APPDATA%\\postgresql\\.pg_service.conf");
}

void CutServerSocket(qintptr socket) {
    if (socket >= 0)
        ::shutdown(static_cast<SOCKET>(socket), SD_BOTH);
}
