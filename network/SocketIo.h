#pragma once

// The bytes of a connected TCP socket moved by the system's own calls. A network port's
// exchanges go through these once the toolkit has connected: a request and its answer then cost
// a send, one wait and a receive, without the toolkit's buffers, signals and extra polls in
// between (a fleet's collection makes millions of exchanges). The socket is the toolkit's
// non-blocking descriptor.

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <span>

// How many bytes went (0: the socket's buffer is full); -1 when the connection failed.
std::ptrdiff_t SocketSend(qintptr socket, std::span<const std::uint8_t> bytes);

// How many bytes arrived into buffer (0: nothing waits); -1 when the connection was closed by the
// other end or failed.
std::ptrdiff_t SocketReceive(qintptr socket, std::span<std::uint8_t> buffer);

// Waits at most timeoutMs until the socket can be read (something arrived, or the connection
// ended) or, with forSending, written. False when the time ran out.
bool SocketWait(qintptr socket, bool forSending, int timeoutMs);
