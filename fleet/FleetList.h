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
// tab-separated or has another header is refused whole, with its first line; a bad controller
// line is reported with its line number and skipped, the rest is read. Empty lines are skipped.

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

struct FleetList {
    QString refusal; // why the list is refused whole (with its first line); empty when read
    std::vector<FleetEntry> entries;
    QStringList skipped; // "строка N: cause" for each bad line
};

FleetList ParseFleetList(const QByteArray& text);
// Reads the file; a file that cannot be read is refused with its cause.
FleetList ReadFleetList(const QString& path);

// The list written back in the same form (header and entries), for the team's server and tests.
QByteArray FormatFleetList(const std::vector<FleetEntry>& entries);
