#include "FleetRun.h"

#include "FleetTable.h"
#include "LibraryBackground.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

#include <mutex>

namespace {

QString KeepRun(const QString& path, const QString& table) {
    QSaveFile file(path);
    if (QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
        file.write(table.toUtf8()) >= 0 && file.commit())
        return {};
    return QStringLiteral("итог сбора не сохранён: %1: %2")
        .arg(QDir::toNativeSeparators(path), file.errorString());
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
    QDir().mkpath(places.stateFolder);
    QLockFile lock(QDir(places.stateFolder).filePath(QStringLiteral("collect.lock")));
    if (!lock.tryLock(0)) {
        qint64 pid = 0;
        QString host;
        QString app;
        lock.getLockInfo(&pid, &host, &app);
        outcome.refusal = QStringLiteral("сбор уже идёт (процесс %1 на %2): дождитесь его конца")
                              .arg(pid)
                              .arg(host);
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
