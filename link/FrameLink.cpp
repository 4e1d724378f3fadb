#include "FrameLink.h"

#include "FrameCodec.h"
#include "FrameTrace.h"
#include "LinkTransport.h"
#include "NetworkStream.h"
#include "PortMap.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <utility>

namespace {

// Sending a frame never takes long: at the slowest speeds the port still takes a few dozen bytes
// at once. A port that does not take them within this time is stuck.
constexpr int kWriteTimeoutMs = 1000;

// The stream as a stream over the network; nullptr for a serial port (or none).
NetworkStream* NetworkOf(LinkTransport* stream) {
    return dynamic_cast<NetworkStream*>(stream);
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

FrameLink::FrameLink(PortMap ports, LinkTransportFactory factory)
    : ports_(std::move(ports)), factory_(std::move(factory)) {}

FrameLink::~FrameLink() = default;

LinkBool FrameLink::Fail(LinkOutcome outcome) {
    lastOutcome_ = outcome;
    return 0;
}

LinkBool FrameLink::AccessCOM(const char* portName) const {
    if (!portName)
        return 0;
    const QString device = ports_.DeviceFor(PortNumber(QString::fromLatin1(portName)));
    if (device.isEmpty())
        return 0;
    // The open port cannot be opened a second time, but it is certainly accessible.
    if (stream_ && device_ == device)
        return 1;
    auto probe = MakeStream(device);
    if (!probe)
        return 0;
    if (NetworkStream* network = NetworkOf(probe.get()))
        network->SetResponsive(responsive_);
    return probe->Open(device, 115200) ? 1 : 0;
}

LinkBool FrameLink::OpenCOM(const char* portName, std::int32_t speed) {
    CloseCOM();
    if (!portName)
        return 0;
    const int n = PortNumber(QString::fromLatin1(portName));
    return n > 0 ? Open(ResolvePort(n, ports_), speed) : 0;
}

std::unique_ptr<LinkTransport> FrameLink::MakeStream(const QString& device) const {
    return factory_ ? factory_() : MakeLinkTransport(device, ports_.HoldFolder());
}

std::unique_ptr<LinkTransport> FrameLink::OpenStream(const QString& device, std::int32_t speed) {
    auto stream = MakeStream(device);
    if (!stream)
        return nullptr;
    NetworkStream* const network = NetworkOf(stream.get());
    if (network)
        network->SetResponsive(responsive_);
    if (!stream->Open(device, speed)) {
        openFailure_ = network ? network->OpenFailure() : QString();
        openBusy_ = network && network->OpenBusy();
        return nullptr;
    }
    openFailure_.clear();
    openBusy_ = false;
    openNotice_ = network ? network->OpenNotice() : QString();
    opened_.via = network ? network->ReachedVia() : QString();
    return stream;
}

LinkBool FrameLink::Open(const Port& port, std::int32_t speed) {
    CloseCOM();
    openFailure_.clear();
    openNotice_.clear();
    openBusy_ = false;
    if (port.device.isEmpty())
        return 0;
    opened_ = port;
    auto stream = OpenStream(port.device, speed);
    if (!stream) {
        opened_ = {};
        return 0;
    }
    stream_ = std::move(stream);
    device_ = port.device;
    speed_ = speed;
    lastOutcome_ = LinkOutcome::Ok;
    return 1;
}

LinkBool FrameLink::SetModeCOM(std::int32_t mode, std::int32_t flags) {
    // (3, 0) is the only mode the controller speaks: 8N1 without flow control.
    if (!stream_ || mode != 3 || flags != 0)
        return 0;
    return stream_->SetMode8N1() ? 1 : 0;
}

LinkBool FrameLink::CloseCOM() {
    stream_.reset();
    unread_.clear();
    device_.clear();
    opened_ = {};
    return 1;
}

LinkBool FrameLink::ReconnectIfLost() {
    if (!stream_)
        return 0;
    if (lastOutcome_ != LinkOutcome::PortFailed || !NamesNetworkPort(device_))
        return lastOutcome_ == LinkOutcome::PortFailed ? 0 : 1;
    // The lost stream stays until a new one opens, so that a box still away is tried again at
    // the next read.
    auto stream = OpenStream(device_, speed_);
    if (!stream)
        return 0;
    stream_ = std::move(stream);
    unread_.clear();
    lastOutcome_ = LinkOutcome::Ok;
    return 1;
}

std::int32_t FrameLink::CurrentPort() const {
    if (!stream_)
        return 0;
    // The number that names the open device now: a number given to another device, or a new
    // number given to this one, never moves the link. Mostly it is the number it was opened
    // under, which a port map entry answers without a look at the machine's devices.
    if (opened_.number > 0 && ports_.DeviceFor(opened_.number) == device_)
        return opened_.number;
    // A port on the network has a number only through the port map: the machine's serial
    // devices (a look at every one of them) need not be listed.
    if (NamesNetworkPort(device_))
        return ports_.MappedNumber(device_);
    for (const auto& [number, device] : ports_.Assigned())
        if (device == device_)
            return number;
    return 0;
}

QString FrameLink::CurrentPortName() const {
    const int port = CurrentPort();
    return port > 0 ? PortName(port) : QString();
}

QString FrameLink::CurrentDevice() const {
    return stream_ ? device_ : QString();
}

QString FrameLink::CurrentPortLabel() const {
    return stream_ ? opened_.Shown() : QString();
}

std::optional<int> FrameLink::RoundTripMs() const {
    const NetworkStream* network = NetworkOf(stream_.get());
    return network ? network->RoundTripMs() : std::nullopt;
}

int FrameLink::ReplyAllowanceMs() const {
    const std::optional<int> roundTrip = RoundTripMs();
    if (!roundTrip)
        return 0; // a serial port: the controller's own time
    // A network's round trip varies from one exchange to the next: some room above the one
    // measured, so that an answer a little late is not lost (and then taken for the next).
    return std::min(*roundTrip + NetworkJitterAllowanceMs, MaxRoundTripAllowanceMs);
}

LinkBool FrameLink::TxFrame(std::uint8_t address, std::uint8_t command, std::uint8_t length,
                            const std::uint8_t* payload) {
    if (!stream_)
        return Fail(LinkOutcome::NotOpen);
    // The payload comes from the 37-byte TxBuffer; a longer length would read past it.
    if (length > kTxBufferSize || (length > 0 && !payload))
        return Fail(LinkOutcome::BadRequest);
    // An answer that came after its request timed out must not pass for the next one.
    unread_.clear();
    if (stream_->DiscardInput() != TransportResult::Ok) {
        if (trace_)
            trace_->PortFailed();
        return Fail(LinkOutcome::PortFailed);
    }
    const auto frame = kv::EncodeFrame(address, command, std::span(payload, length));
    const TransportResult sent = stream_->Write(frame, kWriteTimeoutMs);
    if (trace_) {
        trace_->FrameSent(TracedFrame{address, command, length, std::span(payload, length)});
        if (sent != TransportResult::Ok)
            trace_->PortFailed();
    }
    switch (sent) {
    case TransportResult::Ok:
        lastOutcome_ = LinkOutcome::Ok;
        return 1;
    case TransportResult::TimedOut:
        return Fail(LinkOutcome::TimedOut); // the port did not take the frame in time
    case TransportResult::Failed:
        break;
    }
    return Fail(LinkOutcome::PortFailed);
}

LinkBool FrameLink::RxFrame(std::int32_t timeoutMs, std::uint8_t* address, std::uint8_t* command,
                            std::uint8_t* length, std::uint8_t* buffer) {
    using Clock = std::chrono::steady_clock;
    if (!stream_)
        return Fail(LinkOutcome::NotOpen);
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0) + ReplyAllowanceMs());
    if (!address || !command || !length || !buffer)
        return Fail(LinkOutcome::BadRequest);

    kv::FrameDecoder decoder(kRxBufferSize);
    FrameTrace* const trace = trace_;
    if (trace)
        decoder.OnDropped([trace](std::span<const std::uint8_t> bytes, bool oversized) {
            trace->FrameReceived(TracedFromWire(bytes, oversized));
        });
    const auto reportSkipped = [&] {
        if (trace && decoder.SkippedBytes() > 0)
            trace->BytesSkipped(decoder.SkippedBytes());
    };
    decoder.Feed(unread_);
    unread_.clear();
    std::vector<std::uint8_t> received;
    for (;;) {
        if (auto frame = decoder.Next()) {
            const auto rest = decoder.Pending();
            unread_.assign(rest.begin(), rest.end());
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
            lastOutcome_ = LinkOutcome::Ok;
            return 1;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            if (trace) {
                reportSkipped();
                trace->ReplyTimedOut(timeoutMs + ReplyAllowanceMs());
            }
            if (NetworkStream* network = NetworkOf(stream_.get()))
                network->AnswerMissed(ReplyAllowanceMs());
            return Fail(LinkOutcome::TimedOut);
        }
        // Whole milliseconds, rounded up, so that a short remainder still waits.
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        received.clear();
        switch (stream_->Read(received, static_cast<int>(waitMs))) {
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
            return Fail(LinkOutcome::PortFailed);
        }
    }
}
