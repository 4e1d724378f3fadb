#include "UserFolders.h"

#include <QDir>

namespace {

// The Qt here has no location for XDG_STATE_HOME, so both folders follow the base-directory rule
// by hand, the same way.
QString BaseFolder(const char* variable, const QString& homeRelative) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + QLatin1Char('/') + homeRelative);
}

} // namespace

QString DataFolder() {
    return BaseFolder("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/kv9000");
}

QString StateFolder() {
    return BaseFolder("XDG_STATE_HOME", QStringLiteral(".local/state")) + QStringLiteral("/kv9000");
}

QString FleetListPath() {
    return BaseFolder("XDG_CONFIG_HOME", QStringLiteral(".config")) +
           QStringLiteral("/kv9000/fleet.tsv");
}
