#include "IdentityCommands.h"

#include "CommandCode.h"
#include "Exchange.h"
#include "FrameLink.h"

#include <array>
#include <cstring>
#include <span>

namespace {

// The exchanges of one command sequence in order: after the first failure nothing more is sent,
// and that failure is the sequence's.
class CommandSequence {
public:
    explicit CommandSequence(FrameLink& link) : link_(link) {}

    // The reply's payload; nullopt when this exchange failed or an earlier one did.
    std::optional<QByteArray> Ask(CommandCode command, std::span<const std::uint8_t> payload = {},
                                  int timeoutMs = ExchangeTimeoutMs) {
        if (Failed())
            return std::nullopt;
        ExchangeResult result = Exchange(link_, command, payload, timeoutMs);
        if (!result.Ok()) {
            failure_ = std::move(result);
            return std::nullopt;
        }
        return result.Payload();
    }

    bool Failed() const { return failure_.has_value(); }
    // "TX Error" or "RX Error" of the failed exchange; empty when none failed.
    QByteArray ErrorText() const { return failure_ ? failure_->ErrorText() : QByteArray(); }
    LinkOutcome Cause() const { return failure_ ? failure_->Cause() : LinkOutcome::Ok; }

private:
    FrameLink& link_;
    std::optional<ExchangeResult> failure_;
};

// Byte i of a reply; a byte a short reply lacks counts as zero.
std::uint8_t ByteOf(const QByteArray& reply, qsizetype i) {
    return i < reply.size() ? static_cast<std::uint8_t>(reply[i]) : std::uint8_t{0};
}

// The serial number of a reply, little-endian.
std::uint16_t SerialOf(const QByteArray& reply) {
    return static_cast<std::uint16_t>(ByteOf(reply, 0) | (ByteOf(reply, 1) << 8));
}

} // namespace

IdentityReadResult ReadIdentity(FrameLink& link) {
    IdentityReadResult result;
    CommandSequence sequence(link);
    if (const auto reply = sequence.Ask(CommandCode::ReadSerial))
        result.serial = SerialOf(*reply);
    if (const auto reply = sequence.Ask(CommandCode::ReadAddress))
        result.address = ByteOf(*reply, 0);
    if (const auto reply = sequence.Ask(CommandCode::ReadComment))
        result.comment = PayloadText(*reply);
    if (const auto reply = sequence.Ask(CommandCode::ReadIdentification))
        result.identification = PayloadText(*reply);
    result.error = sequence.ErrorText();
    result.cause = sequence.Cause();
    result.lastReply = ReplyText(link);
    return result;
}

ControllerOnLine ReadControllerOnLine(FrameLink& link) {
    // What did not answer stays unknown.
    ControllerOnLine found;
    CommandSequence sequence(link);
    if (const auto reply = sequence.Ask(CommandCode::ReadSerial))
        found.serial = SerialOf(*reply);
    if (const auto reply = sequence.Ask(CommandCode::ReadIdentification))
        found.identification = PayloadText(*reply);
    return found;
}

void BuildCommentPayload(const QByteArray& comment, std::uint8_t* payload32) {
    std::memset(payload32, 0x20, CommentPayloadSize);
    const auto length =
        static_cast<std::size_t>(std::min<qsizetype>(comment.size(), MaxCommentLength));
    std::memcpy(payload32, comment.constData(), length);
    payload32[length] = 0;
}

QByteArray WriteIdentity(FrameLink& link, const IdentityChange& change, IdentityWriteSteps* steps) {
    IdentityWriteSteps done;
    CommandSequence sequence(link);
    const auto step = [&](CommandCode command, std::span<const std::uint8_t> payload,
                          int timeoutMs) {
        if (sequence.Failed())
            return IdentityStep::NotTried;
        return sequence.Ask(command, payload, timeoutMs) ? IdentityStep::Written
                                                         : IdentityStep::Failed;
    };

    const std::array<std::uint8_t, 3> address{AddressChangeCode[0], AddressChangeCode[1],
                                              change.address};
    done.address = step(CommandCode::ChangeAddress, address, ExchangeTimeoutMs);
    if (done.address == IdentityStep::Written)
        link.DeviceAddress = change.address; // the controller answers at its new address now

    if (change.serial) {
        const std::array<std::uint8_t, 2> serial{static_cast<std::uint8_t>(*change.serial & 0xFF),
                                                 static_cast<std::uint8_t>(*change.serial >> 8)};
        done.serial = step(CommandCode::WriteSerial, serial, ExchangeTimeoutMs);
    } else {
        done.serial = sequence.Failed() ? IdentityStep::NotTried : IdentityStep::Skipped;
    }

    std::array<std::uint8_t, CommentPayloadSize> comment{};
    BuildCommentPayload(change.comment, comment.data());
    done.comment = step(CommandCode::WriteComment, comment, SetCommentTimeoutMs);

    done.cause = sequence.Cause();
    if (steps)
        *steps = done;
    return sequence.ErrorText();
}
