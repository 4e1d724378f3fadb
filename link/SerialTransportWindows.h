#pragma once

// The link's byte stream on a Windows serial port ("\\.\COM3"), through the system's own
// communication functions, used blocking like its POSIX neighbour: every call waits on the port
// itself, so no event loop needs to run while the link waits.

#include "LinkTransport.h"

class SerialTransport final : public LinkTransport {
public:
    SerialTransport() = default;
    ~SerialTransport() override;
    SerialTransport(const SerialTransport&) = delete;
    SerialTransport& operator=(const SerialTransport&) = delete;

    bool Open(const QString& device, std::int32_t speed) override;
    bool SetMode8N1() override;
    TransportResult DiscardInput() override;
    TransportResult Write(std::span<const std::uint8_t> bytes, int timeoutMs) override;
    TransportResult Read(std::vector<std::uint8_t>& into, int timeoutMs) override;

private:
    // Sets reads to return at once and writes to give up after writeTimeoutMs (1 at least),
    // skipping the call when these are in force already.
    bool UseTimeouts(int writeTimeoutMs);
    // A failure is final: the port stays failed so that later calls give up at once instead of
    // waiting on a dead device.
    TransportResult Fail();
    void Close();

    void* handle_ = nullptr; // the port's handle; null when closed
    std::int32_t speed_ = 0;
    int timeoutsFor_ = -1; // the write time-out in force, -1 for none yet
    bool failed_ = false;
};
