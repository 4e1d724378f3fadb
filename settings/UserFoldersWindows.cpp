#include "UserFolders.h"

#include <QDir>
#include <QStandardPaths>

// On Windows the program's files live in the user's local application data folder, where
// Windows users and their backup tools look: %LOCALAPPDATA%\kv9000.

QString DataFolder() {
    // Qt's generic data location on Windows is the local application data folder itself.
    const QString local = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir::cleanPath(local + QStringLiteral("/kv9000"));
}

QString StateFolder() {
    return DataFolder() + QStringLiteral("/logs");
}

QString FleetListPath() {
    return DataFolder() + QStringLiteral("/fleet.tsv");
}
