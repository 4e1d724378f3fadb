#include "ServerDriver.h"

QString MissingServerDriverText() {
    return QStringLiteral("драйвер PostgreSQL для Qt не установлен (пакет libqt6sql6-psql)");
}
