#include "FindingsOrReportAnswer.h"

#include "ArchiveOverwrite.h"
#include "ConsoleText.h"
#include "GridHeadings.h"
#include "HeadlessWidgets.h"
#include "OneLinePath.h"
#include "ReportCommands.h"
#include "UserFolders.h"

#include <QApplication>
#include <QCoreApplication>

namespace {

// An answer of one line (a cause, the report's path) whose paths may hold line breaks: still
// one line.
QString OneLineAnswer(const QString& text) {
    if (text.isEmpty())
        return text;
    return OneLinePath(text.endsWith(u'\n') ? text.chopped(1) : text) + u'\n';
}

} // namespace

int AnswerFindingsOrReport(const CommandLine& line, int& argc, char** argv) {
    CommandAnswer answer{line.exitCode, line.output, line.errors};
    if (line.exitCode == 0 && !line.findingsPath.isEmpty()) {
        QCoreApplication core(argc, argv);
        answer = FindingsCommand(line.findingsPath, SettingsHeadings());
    } else if (line.exitCode == 0) {
        // Refused before anything is drawn: the report must never replace an archive.
        const QString refusal =
            ArchiveOverwriteRefusal(line.reportOutput, line.reportPath, ArchivesFolder());
        if (!refusal.isEmpty()) {
            answer = {1, {}, QStringLiteral("kv9000: ") + refusal};
        } else {
            // The report's charts are widgets, drawn without being shown.
            PrepareHeadlessWidgets();
            QApplication app(argc, argv);
            answer = ReportCommand(line.reportPath, line.reportOutput, SettingsHeadings(),
                                   IdentityJournalPath());
        }
        answer.output = OneLineAnswer(answer.output);
    }
    WriteConsoleText(stdout, answer.output);
    WriteConsoleText(stderr, OneLineAnswer(answer.errors));
    return answer.exitCode;
}
