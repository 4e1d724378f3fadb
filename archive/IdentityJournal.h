#pragma once

// The journal of identity changes: one line per press of "Изменить", appended to a UTF-8 text
// file and flushed to the disk before the press is over, so that a later visit can see who
// changed what on which controller. Lines are never rewritten.
//
// A line holds tab-separated fields:
//   2026-12-08T14:03:27+03:00  user=ivan  port=COM1
//   before serial=12345 address=1 comment="Котельная"
//   after serial=12345 address=2 comment="Щитовая"
//   address=written  serial=skipped  comment=RX Error
// A value not known is "?"; in a comment, \ and " are written \\ and \", a tab or line break as
// \t, \n or \r. A step is "written", "skipped" (not asked for), "TX Error" or "RX Error" (it
// failed), "not tried" (an earlier step failed) or "refused" (the window showed an archive file,
// whose identity is never written; nothing was sent).

#include "IdentityCommands.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>

struct JournalIdentity {
    std::optional<std::uint16_t> serial;
    std::optional<std::uint8_t> address;
    std::optional<QString> comment;
};

struct IdentityJournalEntry {
    QDateTime when; // local time; written with its UTC offset
    QString user;   // login name
    QString port;   // "COM1"; empty when no port was open
    JournalIdentity before;
    JournalIdentity after;
    QString addressStep;
    QString serialStep;
    QString commentStep;
};

QString FormatJournalLine(const IdentityJournalEntry& entry);

// How one step of an identity write ended, as the journal writes it: "written", "skipped",
// "not tried", or the error text of the step that failed.
QString JournalStepText(IdentityStep step, const QByteArray& error);

// Appends one line (and a line feed) to the journal at path, creating the file and its folder
// when missing, and flushes it to the disk. The line is appended whole or not at all: when the
// write fails (a full disk) what was written of it is cut off again. Returns the cause of a
// failure, or an empty text.
QString AppendJournalLine(const QString& path, const QString& line);

// The journal's lines, newest first, as one text; error gets the cause when the file exists but
// cannot be read (a journal not yet written reads as empty).
QString ReadJournalNewestFirst(const QString& path, QString* error);

// The login name of the user running the program.
QString LoginName();
