#pragma once

// The cause of a read that kept nothing, in one line for the user: which step failed and how
// (kv9000 --read, a collection's table).

#include "ControllerRead.h"

#include <QString>

// name: the port as the user names it; address: the address asked. Empty for a completed read.
QString ReadFailureText(const ControllerRead& read, const QString& name, int address);
