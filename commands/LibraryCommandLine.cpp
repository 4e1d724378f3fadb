#include "LibraryCommandLine.h"

#include "ConsoleText.h"
#include "LibraryBackground.h"
#include "LibraryDue.h"
#include "LibraryIndex.h"
#include "LibraryReport.h"
#include "OneLinePath.h"
#include "SettingsFile.h"
#include "SettingsLocation.h"
#include "TeamSync.h"
#include "UserFolders.h"

#include <QDateTime>
#include <QDir>

#include <cstdio>

namespace {

void Out(const QString& text) {
    WriteConsoleText(stdout, text);
}

// One line, whatever the paths in text hold.
void Err(const QString& text) {
    WriteConsoleText(stderr, QStringLiteral("kv9000: ") + OneLinePath(text) + u'\n');
}

void ReportRefusals(const IndexReport& report) {
    for (const IndexReport::Refusal& r : report.refused)
        Err(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(r.path), r.cause));
}

// The index, brought up to date with the archives folder (files kept while it was not written).
bool OpenIndex(LibraryIndex& index) {
    const QString error = index.Open(LibraryIndexPath());
    if (!error.isEmpty()) {
        Err(error);
        return false;
    }
    ReportRefusals(index.CatchUp(ArchivesFolder()));
    return true;
}

int Reindex() {
    QString error;
    const IndexReport report = RebuildLibraryIndex(LibraryIndexPath(), ArchivesFolder(), error);
    ReportRefusals(report);
    if (!error.isEmpty()) {
        Err(error);
        return 1;
    }
    Out(QStringLiteral("индекс построен заново: %1 архивов, отклонено %2\n")
            .arg(report.added)
            .arg(report.refused.size()));
    return 0;
}

} // namespace

int AnswerLibraryCommand(const CommandLine& line) {
    using Library = CommandLine::Library;
    if (line.library == Library::Reindex)
        return Reindex();
    LibraryIndex index;
    if (!OpenIndex(index))
        return 1;
    switch (line.library) {
    case Library::List: {
        // A listing that failed is said, never printed as an empty library.
        const auto controllers = index.Controllers();
        if (controllers.Failed()) {
            Err(controllers.error);
            return 1;
        }
        Out(FormatLibraryTable(controllers));
        return 0;
    }
    case Library::Due: {
        const auto due = ControllersDue(index);
        if (due.Failed()) {
            Err(due.error);
            return 1;
        }
        // A controller whose newest file does not read is listed without its moment, and said.
        for (const ControllerDue& d : due)
            if (!d.problem.isEmpty())
                Err(QStringLiteral("%1: %2").arg(d.controller.serial).arg(d.problem));
        const qint64 asOf = line.dueAt.isValid()
                                ? QDateTime(line.dueAt, QTime(0, 0), Qt::UTC).toSecsSinceEpoch()
                                : RecordTimeNow();
        Out(FormatDueTable(due, asOf));
        return 0;
    }
    case Library::Import: {
        const IndexReport report = index.Import(line.libraryPaths, ArchivesFolder());
        ReportRefusals(report);
        Out(QStringLiteral("добавлено: %1, уже были: %2, отклонено: %3%4\n")
                .arg(report.added)
                .arg(report.alreadyThere)
                .arg(report.refused.size())
                .arg(report.restored > 0 ? QStringLiteral(" (восстановлено удалённых файлов: %1)")
                                               .arg(report.restored)
                                         : QString()));
        return report.refused.empty() ? 0 : 1;
    }
    case Library::Sync: {
        const SettingsFile settings(ProgramSettingsLocation().readPath);
        const SyncReport report = SyncWithServer(
            index, ArchivesFolder(),
            settings.ReadString(QStringLiteral("Library"), QStringLiteral("Server"), {}).trimmed());
        Out(QStringLiteral("отправлено на сервер: %1, получено с сервера: %2\n")
                .arg(report.sent)
                .arg(report.received));
        if (report.sendingRefused)
            Err(QStringLiteral("отправка отклонена сервером: этой роли разрешено только чтение"));
        for (const QString& note : report.notes)
            Err(note);
        if (!report.error.isEmpty()) {
            Err(QStringLiteral("синхронизация не завершена: ") + report.error);
            return 1;
        }
        return 0;
    }
    case Library::None:
    case Library::Reindex:
        break;
    }
    return 0;
}

void IndexKeptDownload(const QString& path, const QString& server) {
    LibraryBackground background(LibraryIndexPath(), ArchivesFolder());
    // The file is kept whatever happens here; a failed index or sync is said once.
    background.AddKept(path, server, [](const QString& cause) { Err(cause); });
    background.WaitForDone();
}
