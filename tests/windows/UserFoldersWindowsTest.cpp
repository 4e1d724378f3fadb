// Where the program keeps its files on Windows: everything under the user's local application
// data folder, the logs in a folder of their own there.

#include "UserFolders.h"

#include <QDir>

#include <gtest/gtest.h>

TEST(UserFoldersWindows, EverythingLivesUnderTheLocalApplicationDataFolder) {
    const QString local = qEnvironmentVariable("LOCALAPPDATA");
    ASSERT_FALSE(local.isEmpty());
    const QString data = QDir::cleanPath(QDir::fromNativeSeparators(local)) + "/kv9000";
    EXPECT_EQ(DataFolder().toLower(), data.toLower());
    EXPECT_EQ(ArchivesFolder(), DataFolder() + "/archives");
    EXPECT_EQ(IdentityJournalPath(), DataFolder() + "/identity-changes.log");
    EXPECT_EQ(LibraryIndexPath(), DataFolder() + "/library.sqlite");
    EXPECT_EQ(StateFolder(), DataFolder() + "/logs");
}
