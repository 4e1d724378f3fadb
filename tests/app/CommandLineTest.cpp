// The command line as a user meets it: the program itself started without a display, and the
// toolkit's own options left for the application object.

#include "CommandLine.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the program as over SSH or in a script: no display at all.
ProgramRun RunProgram(const QStringList& arguments) {
    const char* dir = std::getenv("KV_BIN_DIR");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QString());
    process.setProcessEnvironment(env);
    process.start(QString::fromLocal8Bit(dir ? dir : ".") + QStringLiteral("/kv9000"), arguments);
    ProgramRun run;
    if (!process.waitForFinished(20000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

TEST(CommandLine, UsageErrorsAnswerWithoutADisplayOnOneLineWithExitCodeTwo) {
    for (const QStringList& arguments :
         {QStringList{"--nonsense"}, QStringList{"a.kvarc", "b.kvarc"},
          QStringList{"-platform", "offscreen", "--bogus"}, QStringList{"-x"}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const ProgramRun run = RunProgram(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("kv9000: ")) << run.err.toStdString();
        EXPECT_TRUE(run.err.endsWith("--help\n")) << run.err.toStdString();
    }
    const ProgramRun help = RunProgram({"-style=fusion", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("--diagnose"));
    EXPECT_EQ(RunProgram({"--version"}).exitCode, 0);
}

TEST(CommandLine, TheToolkitsOwnOptionsAreLeftForTheApplicationObject) {
    const QStringList arguments =
        WithoutToolkitOptions({"kv9000", "-platform", "offscreen", "--style=fusion", "-reverse",
                               "--qwindowtitle", "Окно", "архив.kvarc", "--", "-platform"});
    EXPECT_EQ(arguments, (QStringList{"kv9000", "архив.kvarc", "--", "-platform"}));
    const CommandLine line = ParseCommandLine(WithoutToolkitOptions(
        {"kv9000", "-platform", "offscreen", "-geometry", "800x600", "a.kvarc"}));
    EXPECT_FALSE(line.exitNow);
    EXPECT_EQ(line.archivePath, "a.kvarc");
    EXPECT_EQ(ParseCommandLine(WithoutToolkitOptions({"kv9000", "--bogus"})).exitCode, 2);
}

} // namespace
