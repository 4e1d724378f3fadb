#include "ProgramRun.h"

#include <QProcess>

QProcessEnvironment ProgramEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

ProgramRun RunProgram(const QStringList& arguments, const QProcessEnvironment& environment,
                      const QString& program, const QString& workingDir) {
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!workingDir.isEmpty())
        process.setWorkingDirectory(workingDir);
    process.start(program.isEmpty() ? qEnvironmentVariable("KV_BIN_DIR") + QStringLiteral("/kv9000")
                                    : program,
                  arguments);
    ProgramRun run;
    if (!process.waitForFinished(180000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}
