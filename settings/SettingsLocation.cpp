#include "SettingsLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

SettingsLocation ChooseSettingsLocation(const QString& beside, bool besideWritable,
                                        const QString& userPath, bool userFileExists) {
    if (besideWritable)
        return {beside, beside};
    return {userFileExists ? userPath : beside, userPath};
}

bool InstalledLayout() {
#ifdef KV_INSTALLED_LAYOUT
    return true;
#else
    return false;
#endif
}

SettingsLocation ProgramSettingsLocation() {
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    const QString name = exe.completeBaseName() + QStringLiteral(".INI");
    const QString beside = exe.absoluteDir().filePath(name);
    const QString configHome =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString user = QDir(configHome).filePath(QStringLiteral("kv9000/") + name);
    if (InstalledLayout())
        return {user, user};
    return ChooseSettingsLocation(beside, CanReplaceFile(beside), user, QFileInfo::exists(user));
}
