#include "UserFolders.h"

// The files inside the program's data folder; the folders themselves are each platform's
// (UserFoldersPosix.cpp, UserFoldersWindows.cpp).

QString ArchivesFolder() {
    return DataFolder() + QStringLiteral("/archives");
}

QString IdentityJournalPath() {
    return DataFolder() + QStringLiteral("/identity-changes.log");
}

QString LibraryIndexPath() {
    return DataFolder() + QStringLiteral("/library.sqlite");
}
