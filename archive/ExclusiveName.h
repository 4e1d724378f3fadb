#pragma once

// Gives a finished file its final name without ever replacing another file: the name is taken
// by the move itself, so two programs finishing at the same moment can never both get it.

#include <QString>

enum class ExclusiveMove {
    Moved,  // the file now has the new name
    Taken,  // a file of that name exists; nothing changed
    Failed, // the move failed for another reason; nothing changed
};

// Moves the file `from` to `to` (both in the same folder or file system) only when no file is
// named `to`; an existing file is never replaced. On Failed, error gets the cause.
ExclusiveMove MoveWithoutReplacing(const QString& from, const QString& to, QString* error);

// Moves `from` to base + extension, or, when that name is taken, to base + "_2" + extension,
// base + "_3" + extension ... (the first free one, taken by the move itself). Returns the name
// given, or an empty text with error set when the move fails for any other reason.
QString MoveToFreeName(const QString& from, const QString& base, const QString& extension,
                       QString* error);
