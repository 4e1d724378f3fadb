#pragma once

// The real serial port as a link stream, for stand-ins that change one thing about it: derive,
// override what differs, and call the base for the rest.

#include "LinkTransport.h"
#include "SerialTransport.h"

#include <memory>

class SerialPassThrough : public LinkTransport {
public:
    bool Open(const QString& device, std::int32_t speed) override {
        return port_->Open(device, speed);
    }
    bool SetMode8N1() override { return port_->SetMode8N1(); }
    TransportResult DiscardInput() override { return port_->DiscardInput(); }
    TransportResult Write(std::span<const std::uint8_t> bytes, int timeoutMs) override {
        return port_->Write(bytes, timeoutMs);
    }
    TransportResult Read(std::vector<std::uint8_t>& into, int timeoutMs) override {
        return port_->Read(into, timeoutMs);
    }

private:
    std::unique_ptr<SerialTransport> port_ = MakeSerialTransport();
};
