// A build without the charts has no findings and no report.

#include "FindingsOrReportAnswer.h"

#include "ConsoleText.h"

int AnswerFindingsOrReport(const CommandLine& line, int&, char**) {
    if (line.exitCode != 0) {
        WriteConsoleText(stderr, line.errors);
        return line.exitCode;
    }
    WriteConsoleText(stderr, QStringLiteral("kv9000: находок и отчёта в этой сборке нет\n"));
    return 1;
}
