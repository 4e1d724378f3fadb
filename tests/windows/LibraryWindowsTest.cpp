// The library of every visit in the Windows program: the index through the SQLite driver linked
// into it (a kept archive added, listed and merged into a history), and the team library's
// answer where the program has no PostgreSQL driver.

#include "ArchiveFile.h"
#include "ArchiveImageBuilder.h"
#include "LibraryIndex.h"
#include "ServerDriver.h"
#include "TeamSync.h"
#include "TestQtApp.h"

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

    // A server set in the settings: one plain answer, nothing indexed lost.
    const SyncReport sync =
        SyncWithServer(index, archives, QStringLiteral("host=office dbname=kv9000"));
    EXPECT_EQ(sync.error, MissingServerDriverText());
    EXPECT_EQ(index.Controllers().size(), 1u);
}
