#pragma once

// The byte stream under the frame link. A link speaks to whatever stream its factory makes: a
// factory given to the link itself, else the program's (this platform's serial port,
// MakeSerialTransport, or a port on the network, MakeNetworkTransport); in tests a fake that
// fails on demand.

#include "SerialTransport.h"

#include <functional>
#include <memory>

// The link's stream is a serial port's stream, or anything that behaves like one.
using LinkTransport = SerialTransport;

using LinkTransportFactory = std::function<std::unique_ptr<LinkTransport>()>;

// Installs the program's factory: the one every link made without a factory of its own uses for
// its later AccessCOM and OpenCOM (a test puts a faulty line under the window's link this way);
// an empty function restores the serial port. A port already open keeps its stream. Set it
// before links run on other threads; it is read, never changed, while they run.
void SetLinkTransportFactory(LinkTransportFactory factory);

// A new, unopened stream for the device from the installed factory, else the program's own: a
// network stream for "tcp://…" and "rfc2217://…", this platform's serial port for the rest.
std::unique_ptr<LinkTransport> MakeLinkTransport(const QString& device);
