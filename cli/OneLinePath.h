#pragma once

// A path (or any text taken from the user or from a file name) as the program's answers print
// it: always on one line. Control characters are written as C escapes ("\n", "\r", "\t",
// "\x1b"), so that a file name with a line break can neither split an answer's line nor forge
// another line; a name without control characters is printed as it is.

#include <QString>

QString OneLinePath(const QString& path);
