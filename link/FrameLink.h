#pragma once

// The frame-link library as an object: one link owns its transport (a serial port, or whatever
// stream its factory makes), the port map it opens "COM<n>" through, the device address, the last
// request's and reply's command and length, and both buffers. Every command sequence takes the link
// it works on; nothing here is process-wide, so several links run at once, each on its own thread
// if its caller wants. One link is used by one thread at a time.
//
// How the protocol layer (link/) reports a failure: the frame functions return their 8-bit
// boolean, nonzero meaning success, and LastOutcome() keeps why the last one failed (a time-out
// apart from a failed or lost port). A command sequence is made of typed exchanges (Exchange.h):
// each gives the reply's payload, or its failure as a value with the text the user sees ("TX
// Error", "RX Error") and that cause; a sequence stops at its first failure and every public
// command returns its outcome in a result: a struct with the error text and the cause of the
// failed step (IdentityReadResult, IdentityWriteSteps, DiscoveryResult with port 0, FlashBlock).
// Nothing in link/ throws, the Windows-1251 conversions (Cp1251.h) included.

#include "LinkTransport.h"
#include "Port.h"
#include "PortMap.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class FrameTrace;

using LinkBool = std::uint8_t;

constexpr int kTxBufferSize = 37;
// The most a reply's time-out grows by for a port on the network's round trip, and the room
// given above the measured round trip for its variation.
constexpr int MaxRoundTripAllowanceMs = 3000;
constexpr int NetworkJitterAllowanceMs = 300;
constexpr int kRxBufferSize = 41;

// Why a call on the link ended as it did.
enum class LinkOutcome : std::uint8_t {
    Ok,
    TimedOut,   // no good reply within the time-out; the port still works
    WrongReply, // a reply came, but not the one asked for (a command sequence's judgement)
    PortFailed, // the port failed or went away (a pulled cable): final until it is opened again
    NotOpen,    // no port is open
    BadRequest, // the request cannot be sent as asked (longer than TxBuffer, no payload)
};

class FrameLink {
public:
    // ports: how "COM<n>" names a device for this link; factory: how it makes its stream, empty
    // meaning the program's (MakeLinkTransport).
    explicit FrameLink(PortMap ports = {}, LinkTransportFactory factory = {});
    ~FrameLink();
    FrameLink(const FrameLink&) = delete;
    FrameLink& operator=(const FrameLink&) = delete;

    // --- The link variables ------------------------------------------------------------------
    std::uint8_t DeviceAddress = 1; // network address sent with every request
    std::uint8_t FrameCommand = 0;  // command of the request; RxFrame stores the reply's
    std::uint8_t FrameLength = 0;   // payload length of the request; RxFrame stores the reply's
    std::uint8_t TxBuffer[kTxBufferSize] = {}; // request payload
    std::uint8_t RxBuffer[kRxBufferSize] = {}; // payload of the last reply
    // The payload of the last reply an exchange (Exchange.h) received, as long as that reply
    // was; a flash read does not change it.
    QByteArray LastExchangeReply;

    // --- The port ---------------------------------------------------------------------------
    // The port map "COM<n>" goes through from now on (the settings changed); a port open stays
    // open on its device.
    void SetPortMap(const PortMap& ports) { ports_ = ports; }
    const PortMap& Ports() const { return ports_; }
    // How the link makes its stream from the next open on; empty: the program's own.
    void SetTransportFactory(LinkTransportFactory factory) { factory_ = std::move(factory); }

    // True when the port named "COM<n>" maps to a device that exists and can be opened for
    // reading and writing (this link's open port counts as such). Opens nothing for good.
    LinkBool AccessCOM(const char* portName) const;

    // Opens "COM<n>" at the given speed (a port still open is closed first). False when the
    // name does not map to a device or the device cannot be opened.
    LinkBool OpenCOM(const char* portName, std::int32_t speed = 115200);

    // Opens the port as it was resolved where the user named it (not a number that a settings
    // change can move) at the given speed; a port still open is closed first. False when it names
    // no device or the device cannot be opened.
    LinkBool Open(const Port& port, std::int32_t speed);

    // (3, 0): 8 data bits, no parity, 1 stop bit, no flow control. False with no open port.
    LinkBool SetModeCOM(std::int32_t mode, std::int32_t flags);

    // Closes the port; harmless when none is open.
    LinkBool CloseCOM();

    // A port on the network whose connection was lost is connected anew, to the same address
    // at the same speed; true when the port is open and has not failed. A serial port is left
    // as it is (a pulled adapter is found again by looking for the controller).
    LinkBool ReconnectIfLost();

    bool IsOpen() const { return stream_ != nullptr; }
    // The number n of the port "COM<n>" that names the open device now; 0 when none is open
    // (or no number names the open device any longer). The link owns the open device, not its
    // number: a change of the port map renumbers it but never moves the link to another device.
    std::int32_t CurrentPort() const;
    // "COM<n>" of CurrentPort(); empty when none is open.
    QString CurrentPortName() const;
    // The device the link has open ("/dev/ttyUSB0", "tcp://10.1.2.3:4001"); empty when none is
    // open.
    QString CurrentDevice() const;
    // The open port as the user named it when it was opened, with the box's address for a
    // number naming a port on the network (Port::Shown): "COM3", "COM20 (tcp://10.1.2.3:4001)";
    // the text every kept file names the port by. Empty when none is open.
    QString CurrentPortLabel() const;
    // The open port as it was resolved; empty when none is open.
    Port OpenPort() const { return stream_ ? opened_ : Port{}; }

    // --- Ports on the network ---------------------------------------------------------------
    // Long waits on opening (connecting to a box) let this thread's events run: for a link a
    // window uses from its own thread.
    void SetResponsive(bool responsive) { responsive_ = responsive; }
    // The round trip measured when the open port was opened (a port on the network); none for
    // a serial port or with no open port.
    std::optional<int> RoundTripMs() const;
    // How much longer than asked RxFrame waits for a reply on the open port: the round trip
    // and NetworkJitterAllowanceMs, at most MaxRoundTripAllowanceMs; 0 for a serial port.
    int ReplyAllowanceMs() const;
    // Why the last open failed, when the stream said more than that it did not open (a box that
    // refused the connection); empty otherwise.
    QString OpenFailure() const { return openFailure_; }
    // The last open failed because another reader of this machine holds the device (a port on
    // the network); OpenFailure() says who.
    bool OpenBusy() const { return openBusy_; }
    // What the last open found worth saying once (a box that did not take the line's
    // settings); empty otherwise.
    QString OpenNotice() const { return openNotice_; }

    // --- Frames -----------------------------------------------------------------------------
    // Discards any input still waiting on the port (a late answer to an earlier request, and
    // what came after the frame the last RxFrame returned), then sends one frame. False with no
    // open port, when length exceeds the 37 bytes of TxBuffer (nothing is sent), or when the port
    // fails or has gone away. A port that failed stays failed: every later call on it returns false
    // at once, until it is closed and opened again.
    LinkBool TxFrame(std::uint8_t address, std::uint8_t command, std::uint8_t length,
                     const std::uint8_t* payload);

    // Waits up to timeoutMs milliseconds (from the call until the last byte of the frame; on a
    // port on the network, plus ReplyAllowanceMs()) for
    // one frame with a good CRC and a payload of at most 41 bytes; garbage, false start bytes
    // and bad frames are skipped. Bytes that came after the frame returned are kept for the next
    // RxFrame (two replies may come in one piece), until the next TxFrame. On success stores the
    // reply's address, command and length through the pointers and its payload into buffer (at most
    // 41 bytes are ever written). False on time-out, with no open port, or when the port fails or
    // has gone away; then nothing is stored.
    LinkBool RxFrame(std::int32_t timeoutMs, std::uint8_t* address, std::uint8_t* command,
                     std::uint8_t* length, std::uint8_t* buffer);

    // Why the last TxFrame or RxFrame ended as it did: Ok after a success; TimedOut,
    // PortFailed, NotOpen or BadRequest after a false.
    LinkOutcome LastOutcome() const { return lastOutcome_; }

    // The observer this link reports what it sees on the line to (nullptr: none); called from
    // the thread that uses the link. The caller keeps it alive until it installs another.
    void SetTrace(FrameTrace* trace) { trace_ = trace; }

private:
    LinkBool Fail(LinkOutcome outcome);
    // A new stream for the device, opened, with what opening said kept; null when it failed.
    std::unique_ptr<LinkTransport> OpenStream(const QString& device, std::int32_t speed);

    // A new, unopened stream for the device from this link's factory, else the program's.
    std::unique_ptr<LinkTransport> MakeStream(const QString& device) const;

    PortMap ports_;
    LinkTransportFactory factory_;
    std::unique_ptr<LinkTransport> stream_;
    Port opened_; // what Open was given
    QString device_;
    std::int32_t speed_ = 0;
    QString openFailure_;
    QString openNotice_;
    bool openBusy_ = false;
    bool responsive_ = false;
    FrameTrace* trace_ = nullptr;
    LinkOutcome lastOutcome_ = LinkOutcome::Ok;
    std::vector<std::uint8_t> unread_; // what came after the frame the last RxFrame returned
};
