#pragma once

// The fleet list a collection reads: tab-separated UTF-8 text, one header line whose columns are
// exactly "port", "address" and "name", then one controller a line:
//
//   port<TAB>address<TAB>name
//   COM3<TAB>1<TAB>Котельная №3
//   tcp://10.1.2.3:4001<TAB>5<TAB>Школа
//
// port is "COM<n>" (through the settings' port map), "tcp://HOST:PORT" or "rfc2217://HOST:PORT";
// address the controller's network address (1 to 127); name free text. A list that is not
// tab-separated or has another header is refused whole, with its first line; so is a list with a
// line that is not UTF-8 (a list saved as Windows-1251 would lose every name), with that line. A
// bad controller line is reported with its line number and skipped, the rest is read. Empty lines
// are skipped.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

struct FleetEntry {
    int line = 0; // in the list, from 1 (the header)
    QString port; // as written: "COM3", "tcp://10.1.2.3:4001"
    int address = 1;
    QString name;
};

// No fleet list is larger than this: forty thousand lines of a hundred bytes.
constexpr qint64 FleetListSizeLimit = 4 * 1024 * 1024;

struct FleetList {
    QString refusal; // why the list is refused whole (with its first line); empty when read
    // The path named no list at all: not a regular file, or larger than FleetListSizeLimit (a
    // usage error, where a refused list's text is not).
    bool notAListFile = false;
    std::vector<FleetEntry> entries;
    QStringList skipped; // "строка N: cause" for each bad line
};

FleetList ParseFleetList(const QByteArray& text);
// Reads the file; a file that cannot be read is refused with its cause. Only a regular file of
// at most FleetListSizeLimit bytes is read: a device or a named pipe (refused without blocking on
// it) and a larger file are refused with notAListFile set.
FleetList ReadFleetList(const QString& path);

// The list written back in the same form (header and entries), for the team's server and tests.
QByteArray FormatFleetList(const std::vector<FleetEntry>& entries);
