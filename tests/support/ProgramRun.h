#pragma once

// The real program, started as a user starts it from a shell: without a display, with the data
// folders the test gives.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct ProgramRun {
    int exitCode = -1; // -1: it did not end by itself in time, or a signal ended it
    QString out;
    QString err;
};

// The environment of a run: the test's own, without a display or a chosen platform.
QProcessEnvironment ProgramEnvironment();

// Runs program (default: $KV_BIN_DIR/kv9000) with arguments in workingDir (default: the test's).
ProgramRun RunProgram(const QStringList& arguments, const QProcessEnvironment& environment,
                      const QString& program = {}, const QString& workingDir = {});

// The program beside a settings file of its own, in folder (the portable build reads the one
// beside the executable): a hard link to the built program, else a copy. Its path.
QString ProgramWithSettings(const QString& folder, const QString& ini);
