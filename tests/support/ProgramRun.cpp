#include "ProgramRun.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <unistd.h>

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

QString ProgramWithSettings(const QString& folder, const QString& ini) {
    QDir().mkpath(folder);
    const QString program = folder + QStringLiteral("/kv9000");
    const QString built = qEnvironmentVariable("KV_BIN_DIR") + QStringLiteral("/kv9000");
    QFile::remove(program);
    if (::link(QFile::encodeName(built).constData(), QFile::encodeName(program).constData()) != 0)
        QFile::copy(built, program);
    QFile settings(folder + QStringLiteral("/kv9000.INI"));
    if (settings.open(QIODevice::WriteOnly | QIODevice::Truncate))
        settings.write(ini.toLatin1());
    return program;
}
