#pragma once

// A path (or any text taken from the user or from a file name) as the program's answers print
// it: always on one line. Control characters are written as C escapes ("\n", "\r", "\t",
// "\x1b"), so that a file name with a line break can neither split an answer's line nor forge
// another line; a name without control characters is printed as it is. Kept with the port names
// because the lowest folders (a port's device, a host on the network) already repeat what the
// user wrote.

#include <QString>
#include <QStringView>

QString OneLinePath(const QString& path);

// The most characters of a name a message repeats.
constexpr qsizetype kShownNameChars = 80;

// A name the user wrote (a host, a port, an entry of the settings) as a message repeats it: on
// one line as OneLinePath writes it, cut after kShownNameChars characters with "…", so that
// neither a terminal's escape sequence nor a name of a megabyte reaches the answer.
QString ShownName(QStringView name);
