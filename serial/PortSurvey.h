#pragma once

// The port doctor's findings: one row per serial device of the machine (and per device the
// settings name), with what the system tells about it and whether this user can open it, the
// cause and the cure in plain words. Reads the device folder, sysfs, /proc and the kernel log
// under roots that a test may point at a tree of its own; an entry that cannot be read leaves
// its field empty, never fails the survey.

#include "PortMap.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// User and group numbers as POSIX has them (32 bits); Windows has none and leaves them 0.
using SurveyUserId = std::uint32_t;
using SurveyGroupId = std::uint32_t;

struct SurveyRoots {
    QString dev = QStringLiteral("/dev");
    QString sys = QStringLiteral("/sys");
    QString proc = QStringLiteral("/proc");
    QString kernelLog = QStringLiteral("/dev/kmsg"); // read where this user may
};

// Who asks: whether a node is open to them is worked out from its owner, group and mode.
struct SurveyUser {
    SurveyUserId uid = 0;
    QString name;
    std::vector<SurveyGroupId> sessionGroups; // the groups this login has (getgroups)
    std::vector<SurveyGroupId> accountGroups; // the groups of the account now (/etc/group)
    long ownPid = 0;                          // our own process does not count as a holder

    static SurveyUser Current();
};

enum class PortState {
    Ready,          // this user can open it
    NoPermission,   // the node's group admits, the user is not in it
    NewLoginNeeded, // the user was added to the group after logging in
    Busy,           // another process holds it open
    Missing,        // the node does not exist (unplugged, or taken by another service)
    NotSerial,      // the path exists but is no serial port
};

struct PortRow {
    int port = 0; // the "COM" number
    QString node; // the device path as mapped
    QString byId; // its name under /dev/serial/by-id, if any
    QString driver;
    QString usbId;   // "0403:6001", empty for a built-in port
    QString usbName; // manufacturer and product as the adapter reports them
    std::optional<int> latencyTimerMs;
    QString lowLatency; // what opening it reported in this run, empty when not opened
    PortState state = PortState::Ready;
    bool openHere = false; // this program holds it open (the check leaves it alone)
    QString cause;         // plain Russian, empty when Ready
    QString cure;
    QString answer; // filled by ProbeIdentification

    // A port on the network ("tcp://…", "rfc2217://…"): the node is its address, the system
    // knows nothing of it, and only the check tells whether the box answers.
    bool network = false;
    QString box; // the check's word on the box: "отвечает", "не отвечает: …"
    std::optional<int> roundTripMs; // measured by the check on connecting
};

struct SurveyReport {
    std::vector<PortRow> rows;
    QStringList notes; // findings that belong to no row (from the kernel log)
};

// The rows for every number the port map assigns, in number order; with onlyPort, the row of
// that number alone (none when no device belongs to it), without the notes.
SurveyReport SurveyPorts(const PortMap& ports, const SurveyRoots& roots, const SurveyUser& user,
                         int onlyPort = 0);

// The state in a word or two: "доступен", "нет прав", "занят", ...
QString DescribeState(PortState state);

// The row's state in a word or two: DescribeState, "открыт этой программой", or for a port on
// the network what the check found of its box ("сетевой порт" before the check).
QString DescribeRowState(const PortRow& row);

// The whole report as plain text, one block per row, for standard output.
QString FormatSurveyText(const SurveyReport& report);
