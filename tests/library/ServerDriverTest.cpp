// The team library's client on Linux: Debian's libpq has TLS, so a server string that requires
// encryption goes to the server as it is; only a client without TLS refuses it.

#include "ServerDriver.h"

#include <gtest/gtest.h>

TEST(ServerDriver, EncryptionIsRefusedOnlyWhereTheClientCannotGiveIt) {
    EXPECT_TRUE(ServerClientHasTls());
    for (const char* mode : {"require", "verify-ca", "verify-full", "prefer", "disable"})
        EXPECT_EQ(ServerStringRefusal(QStringLiteral("host=db.example.org user=ivanov sslmode=%1")
                                          .arg(QLatin1String(mode))),
                  QString())
            << mode;

    for (const char* mode : {"require", "verify-ca", "verify-full"}) {
        const QString cause = ServerTlsRefusal(QLatin1String(mode), false);
        EXPECT_TRUE(cause.contains(QStringLiteral("sslmode=%1").arg(QLatin1String(mode))))
            << cause.toStdString();
        EXPECT_EQ(ServerTlsRefusal(QLatin1String(mode), true), QString());
    }
    // A mode that lets the connection go plain, and the default, are a client's without TLS too.
    for (const char* mode : {"disable", "allow", "prefer", ""})
        EXPECT_EQ(ServerTlsRefusal(QLatin1String(mode), false), QString()) << mode;
}
