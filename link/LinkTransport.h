#pragma once

// The byte stream under the frame link. The link speaks to whatever stream the installed factory
// makes: by default this platform's serial port (MakeSerialTransport), in tests a fake that
// fails on demand.

#include "SerialTransport.h"

#include <functional>
#include <memory>

// The link's stream is a serial port's stream, or anything that behaves like one.
using LinkTransport = SerialTransport;

using LinkTransportFactory = std::function<std::unique_ptr<LinkTransport>()>;

// Installs the factory the link uses for every later AccessCOM and OpenCOM; an empty function
// restores the serial port. A port already open keeps its stream.
void SetLinkTransportFactory(LinkTransportFactory factory);

// A new, unopened stream from the installed factory.
std::unique_ptr<LinkTransport> MakeLinkTransport();
