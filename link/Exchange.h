#pragma once

// One request/reply exchange with the controller, the step every command sequence is made of: a
// command and its payload go to the link's DeviceAddress, and the reply to that command comes
// back as its payload, or the exchange's failure does, as a result (never an exception).

#include "CommandCode.h"
#include "FrameLink.h"

#include <QByteArray>

#include <cstdint>
#include <span>

constexpr int ExchangeTimeoutMs = 200;   // the reply time-out of every command but one
constexpr int SetCommentTimeoutMs = 500; // the controller takes longer to store its comment

// What one exchange gave: the reply's payload, or where it failed (the text the user sees) and
// why (the link's cause).
class ExchangeResult {
public:
    static ExchangeResult Replied(QByteArray payload);
    // The request could not be sent: "TX Error".
    static ExchangeResult NotSent(LinkOutcome cause);
    // The reply to the command did not come in time: "RX Error".
    static ExchangeResult NoReply(LinkOutcome cause);

    bool Ok() const { return step_ == Step::Replied; }
    // The reply's payload, as long as the reply was; empty after a failure.
    const QByteArray& Payload() const { return payload_; }
    // The payload as text: up to its first zero byte, or to its end.
    QByteArray Text() const;
    // Ok after a reply; otherwise why the exchange failed (TimedOut, WrongReply when only replies
    // to other commands came, PortFailed, NotOpen, BadRequest).
    LinkOutcome Cause() const { return cause_; }
    // "TX Error", "RX Error"; empty after a reply.
    QByteArray ErrorText() const;

private:
    enum class Step : std::uint8_t { Replied, NotSent, NoReply };
    ExchangeResult(Step step, LinkOutcome cause, QByteArray payload);

    Step step_;
    LinkOutcome cause_;
    QByteArray payload_;
};

// Puts the request into the link's FrameCommand, FrameLength and TxBuffer and sends it to its
// DeviceAddress. Ok, or why it was not sent (BadRequest for a payload longer than TxBuffer:
// nothing is sent then).
LinkOutcome SendRequest(FrameLink& link, CommandCode command,
                        std::span<const std::uint8_t> payload);

// Sends the command with its payload, then waits up to timeoutMs for the reply with the same
// command: the controller answers with the command it was asked, so a reply to another one (a
// flash read answered after its time-out) is passed over. The reply is also left in the link's
// variables (RxBuffer, FrameLength, FrameCommand; the address it came from in DeviceAddress) and
// in LastExchangeReply.
ExchangeResult Exchange(FrameLink& link, CommandCode command,
                        std::span<const std::uint8_t> payload = {},
                        int timeoutMs = ExchangeTimeoutMs);

// A reply's payload as text: up to its first zero byte, or to its end.
QByteArray PayloadText(const QByteArray& payload);

// The text of the last reply an exchange on this link received: its payload up to the first
// zero byte, never past the reply's own length, so that bytes an earlier, longer reply (or a
// flash read) left in RxBuffer never show up in it. Empty before the first reply.
QByteArray ReplyText(const FrameLink& link);
