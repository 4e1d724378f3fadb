#pragma once

// The loopback address 127.0.0.1 for the tests' TCP peers (a device server, a relay, the
// simulator's ports).

#include <netinet/in.h>

// 127.0.0.1:port, ready for bind or connect.
sockaddr_in LoopbackAddress(unsigned short port);

// A TCP port of 127.0.0.1 that nothing listens on now.
unsigned short FreeTcpPort();

// A socket listening on 127.0.0.1 at a port the system picks (with room for backlog waiting
// connections); that port goes to *port. -1 when no socket could be made.
int ListenOnLoopback(int backlog, unsigned short* port);
