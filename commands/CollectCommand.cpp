#include "CollectCommand.h"

#include "ConsoleText.h"
#include "CoreModeRun.h"
#include "FleetCollection.h"
#include "FleetList.h"
#include "FleetRun.h"
#include "FleetTable.h"
#include "PortSettings.h"
#include "SettingsFile.h"
#include "SettingsLocation.h"
#include "TeamFleet.h"
#include "UserFleetRun.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

// One line each: the server's own words may come in several.
int Fail(const QString& cause) {
    WriteConsoleText(stderr, QStringLiteral("kv9000: ") + cause.simplified() + u'\n');
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

// A path that names no list at all (a device, a pipe, a huge file) is a usage error.
int RefuseList(const FleetList& list) {
    Fail(list.refusal);
    return list.notAListFile ? 2 : 1;
}

void SaySkipped(const FleetList& list) {
    for (const QString& skipped : list.skipped)
        WriteConsoleText(stderr, QStringLiteral("kv9000: список регуляторов: %1 — строка "
                                                "пропущена\n")
                                     .arg(skipped));
}

// --fleet-push: a list with a bad line is not stored (the office would lose that controller
// unseen); each bad line is said.
int PushList(const QString& path, const QString& server) {
    const FleetList list = ReadFleetList(path);
    if (!list.refusal.isEmpty())
        return RefuseList(list);
    for (const QString& skipped : list.skipped)
        Fail(QStringLiteral("список регуляторов: %1").arg(skipped));
    if (!list.skipped.isEmpty())
        return Fail(QStringLiteral("список не записан на сервер: исправьте строки выше"));
    if (const QString error = PushFleetList(server, list.entries); !error.isEmpty())
        return Fail(error);
    WriteConsoleText(
        stdout, QStringLiteral("на сервере список из %1 регуляторов\n").arg(list.entries.size()));
    return 0;
}

int PullList(const QString& server) {
    const PulledFleetList pulled = PullFleetList(server);
    if (!pulled.error.isEmpty())
        return Fail(pulled.error);
    WriteConsoleText(stdout, QString::fromUtf8(pulled.text));
    return 0;
}

int Collect(const CommandLine& line) {
    // Read only: nothing here writes the settings file.
    const SettingsLocation where = ProgramSettingsLocation();
    const SettingsFile settings(where.readPath, where.writePath);
    const QString server =
        settings.ReadString(QStringLiteral("Library"), QStringLiteral("Server"), {}).trimmed();
    const bool team = line.collectTeam || line.fleetPull || !line.fleetPushPath.isEmpty();
    if (team && server.isEmpty())
        return Fail(CheckServerString(server));
    if (!line.fleetPushPath.isEmpty())
        return PushList(line.fleetPushPath, server);
    if (line.fleetPull)
        return PullList(server);

    // The claims of a run shared with other collectors, or this machine's own list.
    std::optional<TeamClaims> claims;
    FleetList list;
    if (line.collectTeam) {
        claims.emplace(server, settings.ReadInteger(QStringLiteral("Library"),
                                                    QStringLiteral("Fleet lease"),
                                                    DefaultFleetLeaseSeconds));
        if (!claims->Refusal().isEmpty())
            return Fail(claims->Refusal());
        list = claims->List();
    } else {
        list = ReadFleetList(line.collectPath);
        if (!list.refusal.isEmpty())
            return RefuseList(list);
    }
    SaySkipped(list);
    const PortSettings ports = ReadPortSettings(settings);
    for (const QString& refused : ports.refused)
        WriteConsoleText(stderr, QStringLiteral("kv9000: %1\n").arg(refused));

    const FleetRunPlaces places = UserFleetPlaces(server);
    FleetOptions options = SettingsFleetOptions(settings, ports.ports);
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
    const FleetRunOutcome run =
        RunFleetCollection(list.entries, options, places, hooks, claims ? &*claims : nullptr);
    progress.End();
    if (!run.refusal.isEmpty())
        return Fail(run.refusal);
    for (const QString& problem : run.problems)
        Fail(problem);
    const QStringList serverProblems = claims ? claims->Problems() : QStringList();
    for (const QString& problem : serverProblems)
        Fail(problem);
    WriteConsoleText(stdout, FormatFleetTable(run.results));
    const bool all = list.skipped.isEmpty() && serverProblems.isEmpty() &&
                     std::all_of(run.results.begin(), run.results.end(), [](const FleetResult& r) {
                         return r.outcome != FleetOutcome::Failed;
                     });
    return all ? 0 : 1;
}

} // namespace

int AnswerCollectCommand(const CommandLine& line, int& argc, char** argv) {
    return RunCoreMode(
        argc, argv, [&line] { return Collect(line); }, Fail);
}
