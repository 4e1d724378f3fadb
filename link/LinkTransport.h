#pragma once

// The byte stream under the frame link. The link speaks to whatever stream the installed factory
// makes: by default a serial port (SerialTransport), in tests a fake that fails on demand.

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

// What became of one operation on the stream.
enum class TransportResult {
    Ok,       // done
    TimedOut, // nothing arrived (or could be sent) in time; the stream is still usable
    Failed,   // the device failed or went away; the stream is of no further use
};

class LinkTransport {
public:
    virtual ~LinkTransport() = default;

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

using LinkTransportFactory = std::function<std::unique_ptr<LinkTransport>()>;

// Installs the factory the link uses for every later AccessCOM and OpenCOM; an empty function
// restores the serial port. A port already open keeps its stream.
void SetLinkTransportFactory(LinkTransportFactory factory);

// A new, unopened stream from the installed factory.
std::unique_ptr<LinkTransport> MakeLinkTransport();
