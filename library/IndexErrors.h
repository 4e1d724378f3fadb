#pragma once

// The index's database failures in words that say what to do: a damaged index names the command
// that rebuilds it, a full disk says that the disk is full, a read-only index says so; any other
// failure is the database's own words.

#include <QString>

class QSqlError;

// The cause given when the index is damaged: it names the command that rebuilds it.
QString DamagedIndexCause();

// Whether error says that the file is damaged or is no database at all.
bool IsDamagedIndexError(const QSqlError& error);

// The cause of error on the index at indexPath. An I/O error while the index's disk has less than
// a megabyte free is the full disk: SQLite then fails to grow the write-ahead log's shared memory
// or to write a page, and says no more than "disk I/O error".
QString IndexErrorCause(const QSqlError& error, const QString& indexPath);
