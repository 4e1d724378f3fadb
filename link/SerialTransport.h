#pragma once

#ifdef _WIN32
#include "SerialTransportWindows.h"
#else

// The link's byte stream on a serial port (or a pseudo-terminal), used blocking: every call
// waits on the port itself, so no event loop needs to run while the link waits.

#include "LinkTransport.h"

#include <QSerialPort>

class SerialTransport final : public LinkTransport {
public:
    bool Open(const QString& device, std::int32_t speed) override;
    bool SetMode8N1() override;
    TransportResult DiscardInput() override;
    TransportResult Write(std::span<const std::uint8_t> bytes, int timeoutMs) override;
    TransportResult Read(std::vector<std::uint8_t>& into, int timeoutMs) override;

private:
    // The one place where the port's errors become the link's results. A failure is final: the
    // port stays failed so that later calls give up at once instead of waiting on a dead device.
    TransportResult Outcome(bool done);

    QSerialPort port_;
    bool failed_ = false;
};

#endif
