#pragma once

// kv9000 --read COM<n> [--address N]: the archive download without a window. The port is named
// as in the window (through the settings' [Ports] map), the address comes from the settings or
// --address, the speed from the settings. The controller is found on that port, its identity read
// as the window reads it, its whole archive downloaded and kept exactly as a window download is
// kept: a new file in the archives folder, indexed in the library, then a quiet sync with the
// team's server when one is set; the journal of identity changes is not touched and the settings
// file is never written. Needs an application object, no display.
//
// Answers: the kept file's path on standard output, exit 0. Exit 1 with one line on standard
// error naming the cause: the port is held by another program (another kv9000 among them) or
// cannot be used, no controller answers, the download ended with TX Error or RX Error (with the
// failure counts), the port went away, or the file could not be kept. Progress goes to standard
// error while it is a terminal.

#include "CommandLine.h"

int AnswerReadCommand(const CommandLine& line, int& argc, char** argv);
