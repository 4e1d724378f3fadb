#include "FrameLink.h"

#include "FrameCodec.h"
#include "FrameTrace.h"
#include "LinkTransport.h"
#include "PortMap.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

std::uint8_t DeviceAddress = 1;
std::uint8_t FrameCommand = 0;
std::uint8_t FrameLength = 0;
std::uint8_t TxBuffer[kTxBufferSize] = {};
std::uint8_t RxBuffer[kRxBufferSize] = {};

namespace {

// Sending a frame never takes long: at the slowest speeds the port still takes a few dozen bytes
// at once. A port that does not take them within this time is stuck.
constexpr int kWriteTimeoutMs = 1000;

struct OpenedPort {
    std::unique_ptr<LinkTransport> stream;
    QString device;
};

OpenedPort& Current() {
    static OpenedPort port;
    return port;
}

LinkBool Result(bool ok) {
    return ok ? 1 : 0;
}

FrameTrace*& Trace() {
    static FrameTrace* trace = nullptr;
    return trace;
}

TracedFrame TracedFromWire(std::span<const std::uint8_t> bytes, bool oversized) {
    TracedFrame t;
    t.address = bytes[1];
    t.command = bytes[2];
    t.length = bytes[3];
    t.crcGood = false;
    t.oversized = oversized;
    if (!oversized)
        t.payload = bytes.subspan(kv::kFrameHeaderSize, t.length);
    return t;
}

} // namespace

void SetFrameTrace(FrameTrace* trace) {
    Trace() = trace;
}

LinkBool AccessCOM(const char* portName) {
    if (!portName)
        return 0;
    const QString device = DeviceForPortName(QString::fromLatin1(portName));
    if (device.isEmpty())
        return 0;
    // The current port cannot be opened a second time, but it is certainly accessible.
    if (Current().stream && Current().device == device)
        return 1;
    auto probe = MakeLinkTransport();
    return Result(probe && probe->Open(device, 115200));
}

LinkBool OpenCOM(const char* portName, std::int32_t speed) {
    CloseCOM();
    if (!portName)
        return 0;
    return OpenDevice(DeviceForPortName(QString::fromLatin1(portName)), speed);
}

LinkBool OpenDevice(const QString& device, std::int32_t speed) {
    CloseCOM();
    if (device.isEmpty())
        return 0;
    auto stream = MakeLinkTransport();
    if (!stream || !stream->Open(device, speed))
        return 0;
    Current() = {std::move(stream), device};
    return 1;
}

LinkBool SetModeCOM(std::int32_t mode, std::int32_t flags) {
    // (3, 0) is the only mode the controller speaks: 8N1 without flow control.
    if (!Current().stream || mode != 3 || flags != 0)
        return 0;
    return Result(Current().stream->SetMode8N1());
}

LinkBool CloseCOM() {
    Current() = {};
    return 1;
}

std::int32_t CurrentPort() {
    if (!Current().stream)
        return 0;
    // The number that names the open device now: a number given to another device, or a new
    // number given to this one, never moves the link.
    for (const auto& [number, device] : AssignedPorts())
        if (device == Current().device)
            return number;
    return 0;
}

QString CurrentPortName() {
    const int port = CurrentPort();
    return port > 0 ? PortName(port) : QString();
}

QString CurrentDevice() {
    return Current().stream ? Current().device : QString();
}

LinkBool TxFrame(std::uint8_t address, std::uint8_t command, std::uint8_t length,
                 const std::uint8_t* payload) {
    LinkTransport* stream = Current().stream.get();
    // The payload comes from the 37-byte TxBuffer; a longer length would read past it.
    if (!stream || length > kTxBufferSize || (length > 0 && !payload))
        return 0;
    // An answer that came after its request timed out must not pass for the next one.
    FrameTrace* const trace = Trace();
    if (stream->DiscardInput() != TransportResult::Ok) {
        if (trace)
            trace->PortFailed();
        return 0;
    }
    const auto frame = kv::EncodeFrame(address, command, std::span(payload, length));
    const bool sent = stream->Write(frame, kWriteTimeoutMs) == TransportResult::Ok;
    if (trace) {
        trace->FrameSent(TracedFrame{address, command, length, std::span(payload, length)});
        if (!sent)
            trace->PortFailed();
    }
    return Result(sent);
}

LinkBool RxFrame(std::int32_t timeoutMs, std::uint8_t* address, std::uint8_t* command,
                 std::uint8_t* length, std::uint8_t* buffer) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    LinkTransport* stream = Current().stream.get();
    if (!stream || !address || !command || !length || !buffer)
        return 0;

    kv::FrameDecoder decoder(kRxBufferSize);
    FrameTrace* const trace = Trace();
    if (trace)
        decoder.OnDropped([trace](std::span<const std::uint8_t> bytes, bool oversized) {
            trace->FrameReceived(TracedFromWire(bytes, oversized));
        });
    const auto reportSkipped = [&] {
        if (trace && decoder.SkippedBytes() > 0)
            trace->BytesSkipped(decoder.SkippedBytes());
    };
    std::vector<std::uint8_t> received;
    for (;;) {
        if (auto frame = decoder.Next()) {
            if (trace) {
                reportSkipped();
                trace->FrameReceived(TracedFrame{frame->address, frame->command,
                                                 static_cast<std::uint8_t>(frame->payload.size()),
                                                 frame->payload});
            }
            *address = frame->address;
            *command = frame->command;
            *length = static_cast<std::uint8_t>(frame->payload.size());
            // The decoder never yields more than kRxBufferSize payload bytes.
            std::copy_n(frame->payload.begin(),
                        std::min<std::size_t>(frame->payload.size(), kRxBufferSize), buffer);
            return 1;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            if (trace) {
                reportSkipped();
                trace->ReplyTimedOut(timeoutMs);
            }
            return 0;
        }
        // Whole milliseconds, rounded up, so that a short remainder still waits.
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        received.clear();
        switch (stream->Read(received, static_cast<int>(waitMs))) {
        case TransportResult::Ok:
            decoder.Feed(received);
            break;
        case TransportResult::TimedOut:
            break; // the loop checks the time left
        case TransportResult::Failed:
            if (trace) {
                reportSkipped();
                trace->PortFailed();
            }
            return 0;
        }
    }
}
