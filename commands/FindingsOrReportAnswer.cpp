#include "FindingsOrReportAnswer.h"

#include "ConsoleText.h"
#include "GridHeadings.h"
#include "HeadlessWidgets.h"
#include "ReportCommands.h"
#include "UserFolders.h"

#include <QApplication>
#include <QCoreApplication>

int AnswerFindingsOrReport(const CommandLine& line, int& argc, char** argv) {
    CommandAnswer answer{line.exitCode, line.output, line.errors};
    if (line.exitCode == 0 && !line.findingsPath.isEmpty()) {
        QCoreApplication core(argc, argv);
        answer = FindingsCommand(line.findingsPath, SettingsHeadings());
    } else if (line.exitCode == 0) {
        // The report's charts are widgets, drawn without being shown.
        PrepareHeadlessWidgets();
        QApplication app(argc, argv);
        answer = ReportCommand(line.reportPath, line.reportOutput, SettingsHeadings(),
                               IdentityJournalPath());
    }
    WriteConsoleText(stdout, answer.output);
    WriteConsoleText(stderr, answer.errors);
    return answer.exitCode;
}
