#include "IdentityCommands.h"

#include "Exchange.h"
#include "FrameLink.h"

#include <cstring>

namespace {

void Request(FrameLink& link, std::uint8_t command, std::uint8_t length) {
    link.FrameCommand = command;
    link.FrameLength = length;
}

std::uint16_t ReplySerial(const FrameLink& link) {
    return static_cast<std::uint16_t>(link.RxBuffer[0] | (link.RxBuffer[1] << 8));
}

} // namespace

IdentityReadResult ReadIdentity(FrameLink& link) {
    IdentityReadResult result;
    try {
        Request(link, 7, 0);
        Exchange(link, ExchangeTimeoutMs);
        result.serial = ReplySerial(link);

        Request(link, 5, 0);
        Exchange(link, ExchangeTimeoutMs);
        result.address = link.RxBuffer[0];

        Request(link, 9, 0);
        Exchange(link, ExchangeTimeoutMs);
        result.comment = ReplyText(link);

        Request(link, 3, 0);
        Exchange(link, ExchangeTimeoutMs);
        result.identification = ReplyText(link);
    } catch (const LinkError& e) {
        result.error = e.what();
        result.cause = e.Cause();
    }
    result.lastReply = ReplyText(link);
    return result;
}

ControllerOnLine ReadControllerOnLine(FrameLink& link) {
    ControllerOnLine found;
    try {
        Request(link, 7, 0);
        Exchange(link, ExchangeTimeoutMs);
        found.serial = ReplySerial(link);
        Request(link, 3, 0);
        Exchange(link, ExchangeTimeoutMs);
        found.identification = ReplyText(link);
    } catch (const LinkError&) {
        // What did not answer stays unknown.
    }
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
    IdentityStep* current = &done.address;
    try {
        Request(link, 4, 3);
        link.TxBuffer[0] = 0x6E;
        link.TxBuffer[1] = 0x2B;
        link.TxBuffer[2] = change.address;
        Exchange(link, ExchangeTimeoutMs);
        link.DeviceAddress = change.address;
        done.address = IdentityStep::Written;

        current = &done.serial;
        if (change.serial) {
            Request(link, 8, 2);
            link.TxBuffer[0] = static_cast<std::uint8_t>(*change.serial & 0xFF);
            link.TxBuffer[1] = static_cast<std::uint8_t>(*change.serial >> 8);
            Exchange(link, ExchangeTimeoutMs);
            done.serial = IdentityStep::Written;
        } else {
            done.serial = IdentityStep::Skipped;
        }

        current = &done.comment;
        Request(link, 10, CommentPayloadSize);
        BuildCommentPayload(change.comment, link.TxBuffer);
        Exchange(link, SetCommentTimeoutMs);
        done.comment = IdentityStep::Written;
    } catch (const LinkError& e) {
        *current = IdentityStep::Failed;
        done.cause = e.Cause();
        if (steps)
            *steps = done;
        return QByteArray(e.what());
    }
    if (steps)
        *steps = done;
    return {};
}
