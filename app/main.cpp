// Start-up: the command line, the application title, the main window (which finds the controller
// as it is created), then the message loop until the window is closed. The exit code is 0 once a
// window was opened.

#include "CommandAnswers.h"
#include "CommandLine.h"
#include "ConsoleText.h"
#include "Cp1251.h"
#include "MainForm.h"
#include "OOCalcAuto.h"
#include "OneLinePath.h"
#include "ProgramEnd.h"
#include "ToolkitTranslation.h"
#include "Version.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <exception>
#include <optional>

namespace {

int Answer(const CommandLine& line) {
    WriteConsoleText(stdout, line.output);
    WriteConsoleText(stderr, line.errors);
    return line.exitCode;
}

// The installed program's check that its Calc module is where it looks and loads.
int CheckCalcModule() {
    const QString error = CalcModuleLoadError();
    // One line, whatever the module's folder or the loader's words hold.
    const QString answer =
        OneLinePath(CalcModulePath() + QStringLiteral(": ") +
                    (error.isEmpty() ? QStringLiteral("loaded") : error.trimmed())) +
        u'\n';
    WriteConsoleText(error.isEmpty() ? stdout : stderr, answer);
    return error.isEmpty() ? 0 : 1;
}

// The window until it is closed: the exit code is 0 once a window was opened.
int RunWindow(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // Before the second reading of the command line and before any window or dialog.
    InstallToolkitTranslation();
    QApplication::setApplicationName(QStringLiteral("kv9000"));
    // The desktop entry the package installs: the desktop shows its name and icon for the window.
    QApplication::setDesktopFileName(QStringLiteral("ru.kv9000.ServiceTool"));
    QApplication::setApplicationVersion(QStringLiteral(KV_VERSION));
    QApplication::setApplicationDisplayName(kApplicationTitle);
    const CommandLine line = ParseCommandLine(QApplication::arguments());
    if (line.exitNow)
        return Answer(line);
    // Every text of the controller and of the settings is Windows-1251.
    if (const std::optional<QString> missing = Cp1251Unavailable()) {
        QMessageBox::critical(nullptr, kApplicationTitle, *missing);
        return 0;
    }
    try {
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

} // namespace

int main(int argc, char* argv[]) {
    // Every answer of the command line (--help, --version, usage errors) is given before the
    // window's application object exists, so none needs a display; the toolkit's own options
    // (-platform ...) are left for the application object.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);
    CommandLine early;
    {
        // The toolkit's own words of the answers (headings, its options, its usage errors) come
        // from its Russian catalogue, which needs an application object: a console one needs no
        // display. Given only the program's name, it leaves the arguments as they are; the name
        // is the one the help shows, not the path the program was started by.
        char programName[] = "kv9000";
        char* consoleArgv[] = {programName, nullptr};
        int consoleArgc = 1;
        QCoreApplication console(consoleArgc, consoleArgv);
        InstallToolkitTranslation();
        early = ParseCommandLine(WithoutToolkitOptions(rawArguments));
    }
    // The modes that need no window (the port doctor's table, the library, the findings, the
    // report, the download).
    if (const std::optional<int> code = AnswerWithoutWindow(early, argc, argv))
        EndProgram(*code);
    if (early.exitNow)
        return Answer(early);
    if (early.checkCalc)
        return CheckCalcModule();

    EndProgram(RunWindow(argc, argv));
}
