#pragma once

// One request/reply exchange with the controller over a link's variables, the step every
// identity command is made of.

#include "FrameLink.h"

#include <QByteArray>

#include <stdexcept>

// The failure of an exchange, with the text the user sees ("TX Error" or "RX Error") and its
// cause (a time-out, a failed or lost port, no port open).
class LinkError : public std::runtime_error {
public:
    LinkError(const char* text, LinkOutcome cause) : std::runtime_error(text), cause_(cause) {}
    LinkOutcome Cause() const { return cause_; }

private:
    LinkOutcome cause_;
};

constexpr int ExchangeTimeoutMs = 200;   // the reply time-out of every command but one
constexpr int SetCommentTimeoutMs = 500; // the controller takes longer to store its comment

// Sends the link's FrameCommand, FrameLength and TxBuffer to its DeviceAddress, then waits up to
// timeoutMs for the reply with the same command (replies to other commands are passed over); on
// success the reply's payload is in RxBuffer and in LastExchangeReply, and its address, command
// and length are in DeviceAddress, FrameCommand and FrameLength. Throws LinkError("TX Error")
// when the request cannot be sent and LinkError("RX Error") when no such reply comes in time,
// each with the link's cause (WrongReply when only replies to other commands came).
void Exchange(FrameLink& link, int timeoutMs);

// The text of the last reply an exchange on this link received: its payload up to the first
// zero byte, never past the reply's own length, so that bytes an earlier, longer reply (or a
// flash read) left in RxBuffer never show up in it. Empty before the first reply.
QByteArray ReplyText(const FrameLink& link);
