#pragma once

// The byte stream under the frame link. A link speaks to whatever stream its factory makes: a
// factory given to the link itself (in tests a fake that fails on demand), else the program's
// own for the device (MakeLinkTransport).

#include "SerialTransport.h"

#include <functional>
#include <memory>

// The link's stream is a serial port's stream, or anything that behaves like one.
using LinkTransport = SerialTransport;

using LinkTransportFactory = std::function<std::unique_ptr<LinkTransport>()>;

// A new, unopened stream for the device: a network stream for "tcp://…" and "rfc2217://…"
// (holding the device with lock files in holdFolder while open), this platform's serial port
// for the rest.
std::unique_ptr<LinkTransport> MakeLinkTransport(const QString& device, const QString& holdFolder);
