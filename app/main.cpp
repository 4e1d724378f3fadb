// Start-up: the command line, the application title, the main window (which finds the controller
// as it is created), then the message loop until the window is closed. The exit code is 0 once a
// window was opened.

#include "CommandLine.h"
#include "ConsoleText.h"
#include "Cp1251.h"
#include "LibraryCommandLine.h"
#include "MainForm.h"
#include "OOCalcAuto.h"
#include "PortDiagnosis.h"
#include "Version.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <exception>

namespace {

int Answer(const CommandLine& line) {
    WriteConsoleText(stdout, line.output);
    WriteConsoleText(stderr, line.errors);
    return line.exitCode;
}

// The installed program's check that its Calc module is where it looks and loads.
int CheckCalcModule() {
    const QString error = CalcModuleLoadError();
    const QString answer = CalcModulePath() + QStringLiteral(": ") +
                           (error.isEmpty() ? QStringLiteral("loaded") : error) + u'\n';
    WriteConsoleText(error.isEmpty() ? stdout : stderr, answer);
    return error.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    // --help and --version answer before the application object exists, so they need no
    // display. Qt's own options (-platform ...) are known only once it exists: the command line
    // is read again then, and only that reading reports usage errors.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine early = ParseCommandLine(rawArguments);
    if (early.diagnose) {
        QCoreApplication core(argc, argv);
        return PrintPortDiagnosis();
    }
    if (early.library != CommandLine::Library::None) {
        QCoreApplication core(argc, argv); // Qt's database drivers are plugins
        return AnswerLibraryCommand(early);
    }
    if (early.exitNow && early.exitCode == 0)
        return Answer(early);
    if (early.checkCalc)
        return CheckCalcModule();

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kv9000"));
    // The desktop entry the package installs: the desktop shows its name and icon for the window.
    QApplication::setDesktopFileName(QStringLiteral("ru.kv9000.ServiceTool"));
    QApplication::setApplicationVersion(QStringLiteral(KV_VERSION));
    QApplication::setApplicationDisplayName(kApplicationTitle);
    const CommandLine line = ParseCommandLine(QApplication::arguments());
    if (line.exitNow)
        return Answer(line);
    try {
        // Every text of the controller and of the settings is Windows-1251.
        RequireCp1251();
        MainFormOptions options;
        options.archivePath = line.archivePath;
        TMainForm MainForm(options);
        MainForm.show();
        app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, kApplicationTitle, QString::fromUtf8(e.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, kApplicationTitle, QStringLiteral("Unknown error"));
    }
    return 0;
}
