#pragma once

// One request/reply exchange with the controller over the link variables, the step every
// identity command is made of.

#include <QByteArray>

#include <stdexcept>

// The failure of an exchange, with the text the user sees: "TX Error" or "RX Error".
class LinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr int ExchangeTimeoutMs = 200;   // the reply time-out of every command but one
constexpr int SetCommentTimeoutMs = 500; // the controller takes longer to store its comment

// Sends FrameCommand, FrameLength and TxBuffer to DeviceAddress, then waits up to timeoutMs for
// the reply; on success the reply's payload is in RxBuffer and its address, command and length
// are in DeviceAddress, FrameCommand and FrameLength. Throws LinkError("TX Error") when the
// request cannot be sent and LinkError("RX Error") when no reply comes in time.
void Exchange(int timeoutMs);

// The text of the last reply an exchange received: its payload up to the first zero byte, never
// past the reply's own length, so that bytes an earlier, longer reply (or a flash read) left in
// RxBuffer never show up in it. Empty before the first reply.
QByteArray ReplyText();
