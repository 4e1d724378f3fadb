#pragma once

// The byte stream of a port on the network (NetworkPort.h), used blocking like a serial port:
// a TCP connection to the box, raw or speaking RFC 2217 (TelnetComPort.h). Opening resolves the
// name and connects within ConnectTimeoutMs, so that an unreachable box does not hold a scan
// long, and measures the round trip; a box that accepts and never answers gives time-outs, and
// a connection that drops fails the stream for good, as a pulled serial adapter does.

#include "SerialTransport.h"

#include <memory>

// How long a name lookup and a connection may take together.
constexpr int ConnectTimeoutMs = 2000;

// A new, unopened network stream; Open takes "tcp://HOST:PORT" or "rfc2217://HOST:PORT". While
// open it holds its device (DeviceHold.h) with lock files in holdFolder (empty: within this
// program only).
std::unique_ptr<SerialTransport> MakeNetworkTransport(const QString& holdFolder = {});
