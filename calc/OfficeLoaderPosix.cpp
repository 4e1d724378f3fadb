// Where the Calc module lives and how it is loaded: the office is reached through the module
// the build makes beside the program (or installs in the package's library folder).

#include "OOCalcAuto.h"

#include "CalcModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QtDebug>

namespace {

QString& ChosenModulePath() {
    static QString path;
    return path;
}

QString ExecutableFolder() {
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
}

// The entry point of the module at `path`, or null when it cannot be loaded (error then says
// why). Each path is tried once; the library is never unloaded (the office's runtime keeps
// threads of its own).
CalcModuleEntry LoadEntry(const QString& path, QString* error = nullptr) {
    static QString loadedPath;
    static CalcModuleEntry entry = nullptr;
    static QString failure;
    static bool tried = false;
    if (!tried || loadedPath != path) {
        tried = true;
        loadedPath = path;
        entry = nullptr;
        failure.clear();
        QLibrary library(path);
        if (!library.load()) {
            failure = QStringLiteral("Calc module not loaded: ") + library.errorString();
        } else {
            entry = reinterpret_cast<CalcModuleEntry>(library.resolve(CalcModuleEntryName));
            if (entry == nullptr)
                failure =
                    QStringLiteral("Calc module without entry point: ") + library.errorString();
        }
        if (!failure.isEmpty())
            qWarning().noquote() << failure;
    }
    if (error != nullptr)
        *error = failure;
    return entry;
}

} // namespace

void SetCalcModulePath(const QString& path) {
    ChosenModulePath() = path;
}

QString CalcModulePath() {
    if (!ChosenModulePath().isEmpty())
        return ChosenModulePath();
    const QString file =
        QStringLiteral("lib") + QLatin1String(CalcModuleBaseName) + QStringLiteral(".so");
    const QString installed =
        QDir::cleanPath(ExecutableFolder() + QStringLiteral("/" KV_CALC_MODULE_DIR "/") + file);
#ifdef KV_INSTALLED_LAYOUT
    return installed;
#else
    const QString beside = ExecutableFolder() + u'/' + file;
    return QFileInfo::exists(beside) || !QFileInfo::exists(installed) ? beside : installed;
#endif
}

QString CalcModuleLoadError() {
    QString error;
    LoadEntry(CalcModulePath(), &error);
    return error;
}

std::unique_ptr<CalcAutomation> NewOfficeAutomation() {
    const CalcModuleEntry entry = LoadEntry(CalcModulePath());
    return std::unique_ptr<CalcAutomation>(entry ? entry() : nullptr);
}
