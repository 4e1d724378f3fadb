// The library of every visit in the Windows program: the index through the SQLite driver linked
// into it (a kept archive added, listed and merged into a history), and the team library's
// PostgreSQL client linked in without TLS: a server string asking for encryption is refused in
// the user's words before anything is sent, the password file is the one libpq reads on Windows.

#include "ArchiveFile.h"
#include "ArchiveImageBuilder.h"
#include "LibraryIndex.h"
#include "ServerDriver.h"
#include "TeamSync.h"
#include "TestQtApp.h"

#include <QSqlDatabase>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(LibraryWindows, KeptArchiveIndexedThroughTheLinkedSqliteDriver) {
    EnsureQtCoreApp();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    LibraryIndex index;
    ASSERT_EQ(index.Open(dir.filePath(QStringLiteral("library.sqlite"))), QString());

    ArchiveFileContents kept;
    kept.channelCount = 2;
    kept.serial = 4242;
    kept.identification = QStringLiteral("Лорк КB-9000Л-2К вер. 1.07");
    kept.comment = QStringLiteral("Котельная №3");
    kept.downloadedAt = QDateTime(QDate(2026, 12, 8), QTime(10, 0));
    kept.image = testimage::FullImage(2);
    const QString archives = dir.filePath(QStringLiteral("archives"));
    const QString path = archives + QStringLiteral("/4242/2026-12-08_10-00-00.kvarc");
    ASSERT_EQ(WriteArchiveFile(path, kept), QString());

    const AddResult added = index.AddFile(path);
    EXPECT_EQ(added.outcome, AddOutcome::Added) << added.error.toStdString();
    EXPECT_EQ(index.AddFile(path).outcome, AddOutcome::AlreadyThere);
    const std::vector<LibraryController> controllers = index.Controllers();
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(controllers[0].serial, 4242);
    EXPECT_EQ(controllers[0].place, QStringLiteral("Котельная №3"));
    EXPECT_EQ(controllers[0].visits, 1);
    EXPECT_GT(controllers[0].records, 0);
    const std::vector<ChannelSeries> history = index.History(4242);
    ASSERT_EQ(history.size(), 2u);
    EXPECT_FALSE(history[0].time.empty());

    // A server asking for TLS, which this build cannot give: refused with its cause, nothing
    // indexed lost. A server that is down: the client tried it (nothing listens on port 1).
    const SyncReport tls = SyncWithServer(
        index, archives, QStringLiteral("host=127.0.0.1 dbname=kv9000 sslmode=require"));
    EXPECT_TRUE(tls.error.contains(QStringLiteral("без шифрования (TLS)")))
        << tls.error.toStdString();
    EXPECT_EQ(index.Controllers().size(), 1u);
    const SyncReport down = SyncWithServer(
        index, archives, QStringLiteral("host=127.0.0.1 port=1 dbname=kv9000 connect_timeout=5"));
    EXPECT_TRUE(down.error.contains(QStringLiteral("недоступен"))) << down.error.toStdString();
    EXPECT_EQ(index.Controllers().size(), 1u);
}

TEST(LibraryWindows, ServerStringsAskingForTlsAreRefusedByTheClientWithoutIt) {
    EnsureQtCoreApp();
    EXPECT_TRUE(QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")));
    EXPECT_FALSE(ServerClientHasTls());
    for (const char* mode : {"require", "verify-ca", "verify-full"}) {
        const QString cause = ServerStringRefusal(
            QStringLiteral("host=db.example.org user=ivanov sslmode=%1").arg(QLatin1String(mode)));
        EXPECT_TRUE(cause.contains(QStringLiteral("sslmode=%1").arg(QLatin1String(mode))))
            << cause.toStdString();
        EXPECT_FALSE(cause.contains(QStringLiteral("db.example.org"))) << cause.toStdString();
    }
    // The old spelling, read by the client's parser as sslmode=require.
    EXPECT_TRUE(ServerStringRefusal(QStringLiteral("host=db requiressl=1"))
                    .contains(QStringLiteral("TLS")));
    // Modes that allow a plain connection are this build's to give.
    for (const char* mode : {"disable", "allow", "prefer"})
        EXPECT_EQ(
            ServerStringRefusal(QStringLiteral("host=db sslmode=%1").arg(QLatin1String(mode))),
            QString());
    // Asked for by the environment when the string does not say; the string's own mode wins.
    qputenv("PGSSLMODE", "verify-full");
    EXPECT_TRUE(ServerStringRefusal(QStringLiteral("host=db")).contains(QStringLiteral("TLS")));
    EXPECT_EQ(ServerStringRefusal(QStringLiteral("host=db sslmode=disable")), QString());
    qunsetenv("PGSSLMODE");
    EXPECT_EQ(ServerStringRefusal(QStringLiteral("host=db")), QString());
    // Where the password goes: the file the client reads on Windows.
    const QString password = ServerStringRefusal(QStringLiteral("host=db password=secret"));
    EXPECT_TRUE(password.contains(QStringLiteral("%APPDATA%\\postgresql\\pgpass.conf")))
        << password.toStdString();
    EXPECT_FALSE(password.contains(QStringLiteral("secret")));
}
