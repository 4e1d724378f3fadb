#pragma once

// Low latency on USB serial adapters. An adapter chip holds a short reply in its buffer for its
// latency timer (16 ms by default on common chips) before it sends it over USB; with the
// driver's low-latency flag the timer is cut to the shortest the driver allows. Linux only.

#include <QString>

#include <optional>

enum class LowLatencyOutcome {
    Applied,      // the flag was added and written back; the driver took it
    AlreadySet,   // the driver reported the flag set already; nothing was written
    Refused,      // the driver read its settings but refused the change; nothing changed
    NotSerialPort // the descriptor is no real serial port (a pseudo-terminal, a file)
};

struct LowLatencyReport {
    LowLatencyOutcome outcome = LowLatencyOutcome::NotSerialPort;
    int error = 0; // errno of the failed call, 0 when none failed
};

// Given an open descriptor of a tty: reads its serial settings (TIOCGSERIAL), adds
// ASYNC_LOW_LATENCY and writes them back otherwise unchanged (TIOCSSERIAL, which needs no root
// for this flag). Never changes anything else of the port and never fails the port: on a
// pseudo-terminal or any descriptor the driver does not know, it reports NotSerialPort.
LowLatencyReport RequestLowLatency(int fd);

// The outcome in a few words for the user, e.g. "включена" or "не последовательный порт".
QString DescribeLowLatency(LowLatencyOutcome outcome);

// The adapter's latency timer in milliseconds, read from
// <sysRoot>/class/tty/<node name>/device/latency_timer; nullopt where the file is missing or
// unreadable (built-in ports, adapters whose driver has no such timer).
std::optional<int> ReadLatencyTimerMs(const QString& sysRoot, const QString& deviceNode);

// What the link's serial port reported for a device when it was last opened in this process;
// nullopt when it was never opened. The serial transport records it; the port doctor shows it.
void RecordLowLatency(const QString& deviceNode, LowLatencyReport report);
std::optional<LowLatencyReport> RecordedLowLatency(const QString& deviceNode);
