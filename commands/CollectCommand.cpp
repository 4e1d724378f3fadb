#include "CollectCommand.h"

#include "ConsoleText.h"
#include "Cp1251.h"
#include "FleetCollection.h"
#include "FleetList.h"
#include "FleetRun.h"
#include "FleetTable.h"
#include "PortMap.h"
#include "SettingsFile.h"
#include "SettingsLocation.h"
#include "UserFolders.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace {

int Fail(const QString& cause) {
    WriteConsoleText(stderr, QStringLiteral("kv9000: ") + cause + u'\n');
    return 1;
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

    // Read only: nothing here writes the settings file.
    const SettingsLocation where = ProgramSettingsLocation();
    const SettingsFile settings(where.readPath, where.writePath);
    QStringList refusedPorts;
    SetPortMap(settings.ReadPorts(&refusedPorts));
    for (const QString& refused : refusedPorts)
        WriteConsoleText(stderr, QStringLiteral("kv9000: %1\n").arg(refused));

    FleetRunPlaces places;
    places.archivesFolder = ArchivesFolder();
    places.stateFolder = StateFolder();
    places.libraryIndexPath = LibraryIndexPath();
    places.server =
        settings.ReadString(QStringLiteral("Library"), QStringLiteral("Server"), {}).trimmed();
    FleetOptions options;
    options.speed =
        settings.ReadInteger(QStringLiteral("General"), QStringLiteral("COM speed"), 115200);
    options.jobs = line.collectJobs;

    Progress progress(static_cast<int>(list.entries.size()));
    FleetHooks hooks;
    hooks.onStarted = [&](int, int tryNumber) {
        if (tryNumber == 1)
            progress.Started();
    };
    hooks.onFinished = [&](int, const FleetResult& result) {
        progress.Finished(result.outcome == FleetOutcome::Failed);
    };
    const FleetRunOutcome run = RunFleetCollection(list.entries, options, places, hooks);
    progress.End();
    if (!run.refusal.isEmpty())
        return Fail(run.refusal);
    for (const QString& problem : run.problems)
        Fail(problem);
    WriteConsoleText(stdout, FormatFleetTable(run.results));
    const bool all = list.skipped.isEmpty() &&
                     std::all_of(run.results.begin(), run.results.end(), [](const FleetResult& r) {
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
