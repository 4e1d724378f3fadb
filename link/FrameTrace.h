#pragma once

// What the frame link saw on the line, told to an observer as it happens (the exchange log).
// A link calls the trace installed on it (FrameLink::SetTrace) from the thread that uses the link,
// inside TxFrame and RxFrame; with none installed it costs one pointer test per call.

#include <cstdint>
#include <span>

struct TracedFrame {
    std::uint8_t address = 0;
    std::uint8_t command = 0;
    std::uint8_t length = 0;               // as the header declares it
    std::span<const std::uint8_t> payload; // empty for an oversized header
    bool crcGood = true;
    bool oversized = false; // the header declared more than the link takes; dropped unread
};

class FrameTrace {
public:
    virtual ~FrameTrace() = default;
    virtual void FrameSent(const TracedFrame& frame) = 0;
    // A frame taken (crcGood) or dropped (bad CRC or oversized).
    virtual void FrameReceived(const TracedFrame& frame) = 0;
    // Bytes skipped in one reception while looking for a start byte.
    virtual void BytesSkipped(std::size_t count) = 0;
    // No good frame within the reception's time-out.
    virtual void ReplyTimedOut(int timeoutMs) = 0;
    // The port failed or went away during a call.
    virtual void PortFailed() = 0;
};
