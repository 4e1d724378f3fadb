// The installed program's command line as a user meets it: kv9000 itself started without a
// display and with the system's language English. Help and usage errors are Russian, the help
// and version on standard output with exit code 0, usage errors on standard error alone with
// exit code 2.

#include "TestQtApp.h"

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

ProgramRun RunProgram(const QStringList& arguments) {
    EnsureQtCoreApp();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "LANGUAGE"})
        environment.remove(QString::fromLatin1(name));
    environment.insert("LANG", "C");
    environment.insert("LC_ALL", "C");
    QProcess process;
    process.setProcessEnvironment(environment);
    const char* dir = std::getenv("KV_BIN_DIR");
    process.start(QString::fromLocal8Bit(dir ? dir : ".") + "/kv9000", arguments);
    ProgramRun run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

TEST(CommandLineProgram, HelpAndVersionWithoutADisplay) {
    const ProgramRun help = RunProgram({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_TRUE(help.out.startsWith("Использование: kv9000 [параметры] [FILE]\n"))
        << help.out.toStdString();
    EXPECT_TRUE(help.out.contains("\nПараметры:\n")) << help.out.toStdString();
    EXPECT_FALSE(help.out.contains("Displays")) << help.out.toStdString();

    const ProgramRun version = RunProgram({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.err, "");
    EXPECT_TRUE(version.out.startsWith("kv9000 ")) << version.out.toStdString();
}

TEST(CommandLineProgram, UsageErrorsWithoutADisplayOnStandardErrorOnly) {
    const ProgramRun unknown = RunProgram({"--bogus"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.err, "kv9000: Неизвестный параметр «bogus». Подробнее: kv9000 --help\n");

    const ProgramRun twoFiles = RunProgram({"a.kvarc", "b.kvarc"});
    EXPECT_EQ(twoFiles.exitCode, 2);
    EXPECT_EQ(twoFiles.out, "");
    EXPECT_EQ(twoFiles.err, "kv9000: ожидается не более одного файла. Подробнее: kv9000 --help\n");

    // The toolkit's own options are set aside, so even beside them a usage error needs no
    // display; every usage error is one line.
    for (const QStringList& arguments :
         {QStringList{"-platform", "offscreen", "--bogus"}, QStringList{"-x"}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const ProgramRun run = RunProgram(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("kv9000: ")) << run.err.toStdString();
    }
    const ProgramRun help = RunProgram({"-style=fusion", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("--diagnose"));
}
