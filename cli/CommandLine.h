#pragma once

// The program's command line: kv9000 [options] [FILE]. It is read before the application object
// exists, so that --help and --version answer on standard output without a display.
//
// How the command line (cli/) reports a failure: a usage error is a result, never an exception:
// exit code 2 and one line in Russian for standard error (the cause, then "Подробнее: kv9000
// --help"), which the start-up prints before any window or display exists. --diagnose has no
// failure of its own: a port that cannot be opened or asked is a row of its table, a refused
// "Ports" entry a line under it, and the exit code is 0. Nothing throws out of cli/.

#include <QDate>
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
    // --findings FILE: print the archive file's findings as tab-separated text and end.
    QString findingsPath;
    // --report FILE -o REPORT.pdf: write the visit report of the archive file and end.
    QString reportPath;
    QString reportOutput;
    // The library of every visit, answered without a window (see LibraryCommandLine.h).
    enum class Library { None, List, Import, Sync, Reindex, Due };
    Library library = Library::None;
    QStringList libraryPaths; // --library-import PATH...
    // --due [--at YYYY-MM-DD]: when each controller starts losing records, as of dueAt's midnight
    // (invalid: now).
    QDate dueAt;
    // --image FILE.kvarc -o IMAGE.bin: write the archive file's whole image and end.
    QString imagePath;
    QString imageOutput;
    // --read COM<n> [--address N]: download the controller's archive without a window and keep
    // it (see ReadCommand.h). readAddress 0: the address the settings give.
    QString readPort;
    int readAddress = 0;
    bool readNew = false; // --new: only what changed since the last kept download
    // --collect FLEET.tsv [--jobs N]: collect every controller of the fleet list, N at once (see
    // CollectCommand.h).
    QString collectPath;
    int collectJobs = 8;
    // --collect --team [--jobs N]: collect the team server's list, sharing the run with the
    // other collectors (collectPath empty).
    bool collectTeam = false;
    // --fleet-push FLEET.tsv: store the list on the team's server; --fleet-pull: print it.
    QString fleetPushPath;
    bool fleetPull = false;
    // --listen [HOST:]PORT: take the calls of modems that call in (ListenCommand.h).
    QString listenAddress;
};

// Reads the arguments (arguments[0] is the program's name). A usage error gives exit code 2 and
// one line of standard error (the cause and a hint), and no mode: an unknown option, more than
// one FILE, two modes at once (--read, --collect, --fleet-push, --fleet-pull, --library*,
// --reindex, --due, --image, --findings, --report,
// --diagnose, --check-calc each stand alone), an option's value given twice, a missing or empty
// value, an argument the mode does not take, -o without --report or --image, --address or --new
// without --read, --address not 1 to 127, --at without --due or not a date, --jobs without
// --collect or not 1 to 64, --team but right after --collect (instead of its file), --read with
// a name that is not COMn, --report or --image without -o.
CommandLine ParseCommandLine(const QStringList& arguments);

// The arguments without the toolkit's own options (-platform offscreen, -style=fusion,
// --reverse ...), which the application object takes once it exists: what remains can be read
// before it, so that every answer of the command line, usage errors included, needs no display.
QStringList WithoutToolkitOptions(const QStringList& arguments);
