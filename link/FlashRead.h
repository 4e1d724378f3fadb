#pragma once

// Reading the controller's archive memory: the flash read request (ReadFlash) and its answer,
// on the link given. Sending and receiving are two calls, so that a caller can do its own work
// while the request is on the line, and can try the reception even when the sending failed (an
// answer can arrive anyway).

#include "FrameLink.h"

#include <cstdint>
#include <span>

constexpr int FlashBlockLength = 32; // the most one request may ask for
constexpr int FlashReadTimeoutMs = 200;

// Asks the controller at the link's DeviceAddress for count bytes from offset (the offset least
// significant byte first, then the count). Ok, or why the request could not be sent.
LinkOutcome RequestFlashBlock(FrameLink& link, std::uint32_t offset, std::uint8_t count);

// What the answer to one flash read brought.
struct FlashBlock {
    // Ok; TimedOut (no answer in time); WrongReply (an answer of another length than asked,
    // which would shift every later byte); PortFailed or NotOpen.
    LinkOutcome outcome = LinkOutcome::Ok;
    std::span<const std::uint8_t> bytes; // the count bytes asked for (in the link's RxBuffer)
                                         // when Ok; empty otherwise
};

// Waits up to FlashReadTimeoutMs for the answer of count bytes. The bytes stay valid until the
// link's next reception.
FlashBlock ReceiveFlashBlock(FrameLink& link, std::uint8_t count);

// The same, but an answer of another length is passed over and the wait goes on (WrongReply when
// the time ran out after one): for a read whose length tells its answer from the answers to
// earlier reads of other lengths that may still be on their way.
FlashBlock ReceiveFlashAnswerOfLength(FrameLink& link, std::uint8_t count);
