#pragma once

// kv9000 --listen [HOST:]PORT: takes the calls of cellular modems that call the office
// (DialinListener.h) and holds those of the fleet's "dialin:ID" lines, for --collect, --read and
// the windows of this user to read through; collects a modem on its call when its newest kept
// download is older than [Dial-in] Collect after= hours. Runs until stopped (SIGINT, SIGTERM),
// one line on standard error per event (the service's journal); exit 0 when stopped, 1 when it
// cannot listen, 2 for a usage error. HOST is an address to listen on (IPv6 in brackets);
// without it every address of this machine.

#include "CommandLine.h"

int AnswerListenCommand(const CommandLine& line, int& argc, char** argv);

// "[HOST:]PORT" read: the address (QHostAddress::Any when none) and the port; the cause when the
// text is neither.
struct ListenAddress {
    QString host; // empty: any
    quint16 port = 0;
    QString cause;
};
ListenAddress ParseListenAddress(const QString& text);
