#include "CommandAnswers.h"

#include "CollectCommand.h"
#include "FindingsOrReportAnswer.h"
#include "ImageCommand.h"
#include "LibraryCommandLine.h"
#include "ListenCommand.h"
#include "PortDiagnosis.h"
#include "ReadCommand.h"
#include "ToolkitMessages.h"

#include <QCoreApplication>

std::optional<int> AnswerWithoutWindow(const CommandLine& line, int& argc, char** argv) {
    if (line.exitCode != 0)
        return std::nullopt; // a usage error, answered by the caller
    const bool findingsOrReport = !line.findingsPath.isEmpty() || !line.reportPath.isEmpty();
    if (!line.diagnose && line.library == CommandLine::Library::None && !findingsOrReport &&
        line.readPort.isEmpty() && line.imagePath.isEmpty() && line.collectPath.isEmpty() &&
        !line.collectTeam && line.fleetPushPath.isEmpty() && !line.fleetPull &&
        line.listenAddress.isEmpty())
        return std::nullopt;
    KeepToolkitMessagesOffConsole();
    if (!line.imagePath.isEmpty())
        return AnswerImageCommand(line);
    if (line.diagnose) {
        QCoreApplication core(argc, argv);
        return PrintPortDiagnosis();
    }
    if (line.library != CommandLine::Library::None) {
        QCoreApplication core(argc, argv); // Qt's database drivers are plugins
        return AnswerLibraryCommand(line);
    }
    if (!line.collectPath.isEmpty() || line.collectTeam || !line.fleetPushPath.isEmpty() ||
        line.fleetPull)
        return AnswerCollectCommand(line, argc, argv);
    if (!line.listenAddress.isEmpty())
        return AnswerListenCommand(line, argc, argv);
    if (findingsOrReport)
        return AnswerFindingsOrReport(line, argc, argv);
    return AnswerReadCommand(line, argc, argv);
}
