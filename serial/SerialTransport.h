#pragma once

// The byte stream of a serial port (or a pseudo-terminal), used blocking: every call waits on
// the port itself, so no event loop needs to run while the caller waits. Failures are results
// (TransportResult), never exceptions; a failure of the device is final for that stream.
// Each platform has its own implementation (SerialTransportPosix.cpp, SerialTransportWindows.cpp),
// picked by the build; MakeSerialTransport gives this platform's. What a stream over the network
// has beside this (connecting to its box, the round trip) is an interface of the network's own.

#include <QString>

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// What became of one operation on the stream.
enum class TransportResult {
    Ok,       // done
    TimedOut, // nothing arrived (or could be sent) in time; the stream is still usable
    Failed,   // the device failed or went away; the stream is of no further use
};

class SerialTransport {
public:
    virtual ~SerialTransport() = default;

    // Opens the device at the given speed, 8 data bits, no parity, 1 stop bit, no flow control.
    virtual bool Open(const QString& device, std::int32_t speed) = 0;

    // (Re)applies 8 data bits, no parity, 1 stop bit, no flow control.
    virtual bool SetMode8N1() = 0;

    // Throws away every byte received and not yet read.
    virtual TransportResult DiscardInput() = 0;

    // Hands all bytes to the device, waiting at most timeoutMs for room.
    virtual TransportResult Write(std::span<const std::uint8_t> bytes, int timeoutMs) = 0;

    // Appends to `into` what has arrived, waiting at most timeoutMs for at least one byte.
    // TimedOut when nothing came.
    virtual TransportResult Read(std::vector<std::uint8_t>& into, int timeoutMs) = 0;
};

// A new, unopened serial port of this platform.
std::unique_ptr<SerialTransport> MakeSerialTransport();
