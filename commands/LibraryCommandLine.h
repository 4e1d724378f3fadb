#pragma once

// The library's command-line answers (--library, --library-import, --library-sync, --reindex),
// given without a window: they need an application object for Qt's database drivers, no display.

#include "CommandLine.h"

// Runs the library command of line on the user's index and archives folder, prints its answer
// (standard output; causes on standard error) and returns the exit code: 0 on success; 1 when
// the index cannot be opened, a file was refused, or the server cannot be reached or refuses.
int AnswerLibraryCommand(const CommandLine& line);

// A download just kept at path, as the window handles it: indexed, then, when server (a libpq
// connection string) is not empty, a quiet sync with the team's server. Waits until both are
// done; their failures show at the next --library or sync, as after a window download.
void IndexKeptDownload(const QString& path, const QString& server);
