#include "CollectCommand.h"

#include "ConsoleText.h"
#include "Cp1251.h"
#include "FleetCollection.h"
#include "FleetList.h"
#include "FleetTable.h"
#include "LibraryBackground.h"
#include "PortMap.h"
#include "SettingsFile.h"
#include "SettingsLocation.h"
#include "UserFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>

#include <cstdio>
#include <exception>

namespace {

int Fail(const QString& cause) {
    WriteConsoleText(stderr, QStringLiteral("kv9000: ") + cause + u'\n');
    return 1;
}

QString KeptRunPath() {
    return QDir(StateFolder()).filePath(QStringLiteral("fleet-last-run.tsv"));
}

std::vector<FleetResult> ReadKeptRun() {
    QFile file(KeptRunPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return ParseKeptRun(file.readAll());
}

void KeepRun(const QString& table) {
    QSaveFile file(KeptRunPath());
    if (!QDir().mkpath(QFileInfo(file.fileName()).absolutePath()) ||
        !file.open(QIODevice::WriteOnly) || file.write(table.toUtf8()) < 0 || !file.commit())
        Fail(QStringLiteral("итог сбора не сохранён: %1: %2")
                 .arg(QDir::toNativeSeparators(KeptRunPath()), file.errorString()));
}

// One line on standard error, rewritten in place while it is a terminal.
class Progress {
public:
    explicit Progress(int total) : total_(total), shown_(IsConsoleTerminal(stderr)) {}
    void Started() {
        ++reading_;
        Show();
    }
    void Finished(bool failed) {
        --reading_;
        ++done_;
        failed_ += failed ? 1 : 0;
        Show();
    }
    void End() {
        if (shown_ && done_ > 0)
            WriteConsoleText(stderr, QStringLiteral("\n"));
    }

private:
    void Show() {
        if (shown_)
            WriteConsoleText(stderr, QStringLiteral("\rсбор: готово %1 из %2, читаются %3, "
                                                    "не собрано %4   ")
                                         .arg(done_)
                                         .arg(total_)
                                         .arg(reading_)
                                         .arg(failed_));
    }
    int total_;
    bool shown_;
    int done_ = 0;
    int reading_ = 0;
    int failed_ = 0;
};

int Collect(const CommandLine& line) {
    const FleetList list = ReadFleetList(line.collectPath);
    if (!list.refusal.isEmpty())
        return Fail(list.refusal);
    for (const QString& skipped : list.skipped)
        WriteConsoleText(stderr, QStringLiteral("kv9000: список регуляторов: %1 — строка "
                                                "пропущена\n")
                                     .arg(skipped));

    QDir().mkpath(StateFolder());
    QLockFile lock(QDir(StateFolder()).filePath(QStringLiteral("collect.lock")));
    if (!lock.tryLock(0)) {
        qint64 pid = 0;
        QString host;
        QString app;
        lock.getLockInfo(&pid, &host, &app);
        return Fail(QStringLiteral("сбор уже идёт (процесс %1 на %2): дождитесь его конца")
                        .arg(pid)
                        .arg(host));
    }

    // Read only: nothing here writes the settings file.
    const SettingsLocation where = ProgramSettingsLocation();
    const SettingsFile settings(where.readPath, where.writePath);
    QStringList refusedPorts;
    SetPortMap(settings.ReadPorts(&refusedPorts));
    for (const QString& refused : refusedPorts)
        WriteConsoleText(stderr, QStringLiteral("kv9000: %1\n").arg(refused));
    const QString server =
        settings.ReadString(QStringLiteral("Library"), QStringLiteral("Server"), {}).trimmed();

    const std::vector<FleetResult> lastRun = ReadKeptRun();
    FleetOptions options;
    options.archivesFolder = ArchivesFolder();
    options.speed =
        settings.ReadInteger(QStringLiteral("General"), QStringLiteral("COM speed"), 115200);
    options.jobs = line.collectJobs;
    options.lastSerials = LastSerials(lastRun);

    LibraryBackground library(LibraryIndexPath(), ArchivesFolder());
    auto said = [](const QString& cause) { Fail(cause); };
    Progress progress(static_cast<int>(list.entries.size()));
    FleetHooks hooks;
    hooks.onStarted = [&](int, int tryNumber) {
        if (tryNumber == 1)
            progress.Started();
    };
    bool anyKept = false;
    hooks.onFinished = [&](int, const FleetResult& result) {
        progress.Finished(result.outcome == FleetOutcome::Failed);
        if (result.outcome != FleetOutcome::Failed) {
            library.AddKept(result.file, {}, said);
            anyKept = true;
        }
    };
    std::vector<FleetResult> results = CollectFleet(list.entries, options, hooks);
    progress.End();
    if (anyKept && !server.isEmpty())
        library.SyncQuietly(server, said);

    results = MostUrgentFirst(std::move(results));
    // A controller not collected this time is still the one kept for its port before.
    for (FleetResult& r : results)
        if (!r.serial)
            if (const auto it = options.lastSerials.find({r.entry.port, r.entry.address});
                it != options.lastSerials.end())
                r.serial = it->second;
    KeepRun(FormatFleetTable(results, true));
    WriteConsoleText(stdout, FormatFleetTable(results));
    library.WaitForDone();
    const bool all = list.skipped.isEmpty() &&
                     std::all_of(results.begin(), results.end(), [](const FleetResult& r) {
                         return r.outcome != FleetOutcome::Failed;
                     });
    return all ? 0 : 1;
}

} // namespace

int AnswerCollectCommand(const CommandLine& line, int& argc, char** argv) {
    QCoreApplication core(argc, argv);
    try {
        // Every text of the controller is Windows-1251.
        RequireCp1251();
        return Collect(line);
    } catch (const std::exception& e) {
        return Fail(QString::fromUtf8(e.what()));
    }
}
