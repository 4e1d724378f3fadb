#pragma once

// The index's tables and their version (PRAGMA user_version), described in docs/library.md.
// A database of a newer version is refused; an older one is brought up to date in one
// transaction, so that a failure leaves it as it was.

#include <QString>

class QSqlDatabase;

// The schema version this program writes and reads.
constexpr int LibrarySchemaVersion = 2;

// Checks the open database and brings it to LibrarySchemaVersion: an empty database gets the
// tables, an older version is migrated step by step in one transaction. Returns the cause of a
// refusal in plain Russian words (a damaged file or a foreign database, a newer version, a failed
// migration), or an empty text. A refused database is not written to.
QString PrepareLibrarySchema(QSqlDatabase& db);
