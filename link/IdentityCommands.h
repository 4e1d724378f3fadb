#pragma once

// Reading and changing the controller's identity: serial number, network address and the
// installation-place comment, each on the link given. Texts are Windows-1251 bytes as the
// controller holds them.

#include "FrameLink.h"

#include <QByteArray>

#include <cstdint>
#include <optional>

constexpr int CommentPayloadSize = 32;
constexpr int MaxCommentLength = CommentPayloadSize - 1; // the zero byte needs the last place

// What one read delivered. Each step that succeeded fills its field; the steps after a failure
// leave theirs empty.
struct IdentityReadResult {
    std::optional<std::uint16_t> serial;
    std::optional<std::uint8_t> address;
    std::optional<QByteArray> comment;
    std::optional<QByteArray> identification;
    QByteArray error; // "TX Error" or "RX Error" of the failed step; empty when all succeeded
    LinkOutcome cause = LinkOutcome::Ok; // why that step failed (a time-out, a lost port, ...)
    QByteArray lastReply; // the text of the last reply received (ReplyText) after the steps
};

// Four exchanges with time-out 200, stopping at the first failure: serial number (ReadSerial),
// network address (ReadAddress), comment (ReadComment), identification (ReadIdentification).
// Texts end at their first zero byte or at the end of their reply, whichever comes first; a
// number's byte a short reply lacks counts as zero. The link's DeviceAddress is the address
// asked; the read never changes it apart from what RxFrame stores.
IdentityReadResult ReadIdentity(FrameLink& link);

// Which controller is on the line now: its serial number (ReadSerial) and identification text
// (ReadIdentification), each nullopt when its exchange failed. The check after a download, which
// must not take the controller's time with the comment and address.
struct ControllerOnLine {
    std::optional<std::uint16_t> serial;
    std::optional<QByteArray> identification;
};
ControllerOnLine ReadControllerOnLine(FrameLink& link);

struct IdentityChange {
    std::uint8_t address = 1;            // the new network address
    std::optional<std::uint16_t> serial; // nullopt: the serial number is not written
    QByteArray comment;                  // at most 31 bytes are sent; the rest is cut off
};

// How each step of one write ended: Failed is the step whose error text was returned; the steps
// after it stay NotTried; a serial number not asked for is Skipped.
enum class IdentityStep { NotTried, Written, Skipped, Failed };
struct IdentityWriteSteps {
    IdentityStep address = IdentityStep::NotTried;
    IdentityStep serial = IdentityStep::NotTried;
    IdentityStep comment = IdentityStep::NotTried;
    LinkOutcome cause = LinkOutcome::Ok; // why the failed step failed
};

// Writes the identity, stopping at the first failure: ChangeAddress (AddressChangeCode and the
// new address) to the link's DeviceAddress, which becomes the new address only when that
// succeeded; then WriteSerial (little-endian) and WriteComment (time-out 500), both to the new
// address. Returns the error text of the failed step, or an empty text; steps, when
// given, gets how each step ended.
QByteArray WriteIdentity(FrameLink& link, const IdentityChange& change,
                         IdentityWriteSteps* steps = nullptr);

// The 32-byte payload of the set-comment request: the text (cut to 31 bytes), a zero byte, then
// spaces to the end.
void BuildCommentPayload(const QByteArray& comment, std::uint8_t* payload32);
