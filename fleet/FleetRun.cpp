#include "FleetRun.h"

#include "DiskRoom.h"
#include "FileSync.h"
#include "FleetTable.h"
#include "LibraryBackground.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

#include <mutex>
#include <set>

namespace {

// The table replaces the kept run only when all of it is on the disk. It is flushed and synced
// before the commit: a commit whose own flush fails (a full disk) still replaces the file in
// Qt 6.4, with an empty one.
QString KeepRun(const QString& path, const QString& table) {
    const QString folder = QFileInfo(path).absolutePath();
    const QByteArray bytes = table.toUtf8();
    QString error;
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("папка не создаётся");
    } else {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            error = file.errorString();
        else if (file.write(bytes) != bytes.size())
            error = file.errorString();
        else if (error = SyncToDisk(file); error.isEmpty() && !file.commit())
            error = file.errorString();
        file.cancelWriting();
    }
    if (error.isEmpty())
        return {};
    if (const QString full = NoRoomCause(folder, bytes.size()); !full.isEmpty())
        error = full;
    return QStringLiteral("итог сбора не сохранён: %1: %2")
        .arg(QDir::toNativeSeparators(path), error);
}

// Why the machine's lock for a collection could not be taken, as the refusal says it.
QString LockRefusal(QLockFile& lock, const QString& folder, const QString& path) {
    if (lock.error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString app;
        if (lock.getLockInfo(&pid, &host, &app) && pid > 0)
            return QStringLiteral("сбор уже идёт (процесс %1 на %2): дождитесь его конца")
                .arg(pid)
                .arg(host);
        return QStringLiteral("сбор уже идёт (файл %1 занят): дождитесь его конца")
            .arg(QDir::toNativeSeparators(path));
    }
    // Not held by another: the lock could not be written at all.
    QString cause = NoRoomCause(folder);
    if (cause.isEmpty())
        cause = lock.error() == QLockFile::PermissionError
                    ? QStringLiteral("нет права записи в папку")
                    : QStringLiteral("файл не создаётся");
    return QStringLiteral("сбор не начат: блокировка %1 не записана: %2")
        .arg(QDir::toNativeSeparators(path), cause);
}

} // namespace

QString KeptRunPath(const QString& stateFolder) {
    return QDir(stateFolder).filePath(QStringLiteral("fleet-last-run.tsv"));
}

std::vector<FleetResult> ReadKeptRun(const QString& stateFolder) {
    QFile file(KeptRunPath(stateFolder));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseKeptRun(file.readAll());
}

FleetRunOutcome RunFleetCollection(const std::vector<FleetEntry>& entries, FleetOptions options,
                                   const FleetRunPlaces& places, const FleetHooks& hooks,
                                   FleetClaims* claims) {
    FleetRunOutcome outcome;
    if (!QDir().mkpath(places.stateFolder)) {
        const QString cause = NoRoomCause(places.stateFolder);
        outcome.refusal = QStringLiteral("сбор не начат: папка %1 не создаётся%2")
                              .arg(QDir::toNativeSeparators(places.stateFolder),
                                   cause.isEmpty() ? QString() : QStringLiteral(": ") + cause);
        return outcome;
    }
    const QString lockPath = QDir(places.stateFolder).filePath(QStringLiteral("collect.lock"));
    QLockFile lock(lockPath);
    if (!lock.tryLock(0)) {
        outcome.refusal = LockRefusal(lock, places.stateFolder, lockPath);
        return outcome;
    }

    options.archivesFolder = places.archivesFolder;
    options.lastSerials = LastSerials(ReadKeptRun(places.stateFolder));
    std::mutex said;
    auto problem = [&](const QString& text) {
        const std::lock_guard<std::mutex> guard(said);
        outcome.problems << text;
    };
    bool anyKept = false;
    std::vector<FleetResult> results;
    {
        LibraryBackground library(places.libraryIndexPath, places.archivesFolder);
        FleetHooks run = hooks;
        run.onFinished = [&](int index, const FleetResult& result) {
            if (result.outcome != FleetOutcome::Failed) {
                library.AddKept(result.file, {}, problem);
                anyKept = true;
            }
            if (hooks.onFinished)
                hooks.onFinished(index, result);
        };
        results = claims ? CollectClaimedFleet(*claims, options, run)
                         : CollectFleet(entries, options, run);
        if (anyKept && !places.server.isEmpty())
            library.SyncQuietly(places.server, problem);
        library.WaitForDone();
    }

    if (places.joinKeptRun) {
        std::set<std::pair<QString, int>> collected;
        for (const FleetResult& r : results)
            collected.insert({r.entry.port, r.entry.address});
        for (FleetResult& kept : ReadKeptRun(places.stateFolder))
            if (!collected.contains({kept.entry.port, kept.entry.address}))
                results.push_back(std::move(kept));
    }
    results = MostUrgentFirst(std::move(results));
    // A controller not collected this time is still the one kept for its port before.
    for (FleetResult& r : results)
        if (!r.serial)
            if (const auto it = options.lastSerials.find({r.entry.port, r.entry.address});
                it != options.lastSerials.end())
                r.serial = it->second;
    if (const QString kept =
            KeepRun(KeptRunPath(places.stateFolder), FormatFleetTable(results, true));
        !kept.isEmpty())
        problem(kept);
    outcome.results = std::move(results);
    return outcome;
}
