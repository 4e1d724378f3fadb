#pragma once

// The program's command line: kv9000 [options] [FILE]. It is read before the application object
// exists, so that --help and --version answer on standard output without a display.

#include <QString>
#include <QStringList>

struct CommandLine {
    // True when the program ends after printing (help, version, a usage error) without opening a
    // window; exitCode then says how it ends.
    bool exitNow = false;
    int exitCode = 0;
    QString output; // for standard output
    QString errors; // for standard error
    // --diagnose: print the port doctor's table and end, without a window.
    bool diagnose = false;
    // The archive file to show at start; empty when none was given.
    QString archivePath;
    // --check-calc: load the Calc module (without starting the office), say whether it loaded
    // and end, with exit code 0 when it did.
    bool checkCalc = false;
    // The library of every visit, answered without a window (see LibraryCommandLine.h).
    enum class Library { None, List, Import, Sync, Reindex };
    Library library = Library::None;
    QStringList libraryPaths; // --library-import PATH...
};

// Reads the arguments (arguments[0] is the program's name). More than one FILE or an unknown
// option is a usage error (exit code 2, the message and a hint on standard error).
CommandLine ParseCommandLine(const QStringList& arguments);
