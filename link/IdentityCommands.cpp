#include "IdentityCommands.h"

#include "Exchange.h"
#include "FrameLink.h"

#include <cstring>

namespace {

void Request(std::uint8_t command, std::uint8_t length) {
    FrameCommand = command;
    FrameLength = length;
}

} // namespace

IdentityReadResult ReadIdentity() {
    IdentityReadResult result;
    try {
        Request(7, 0);
        Exchange(ExchangeTimeoutMs);
        result.serial = static_cast<std::uint16_t>(RxBuffer[0] | (RxBuffer[1] << 8));

        Request(5, 0);
        Exchange(ExchangeTimeoutMs);
        result.address = RxBuffer[0];

        Request(9, 0);
        Exchange(ExchangeTimeoutMs);
        result.comment = ReplyText();

        Request(3, 0);
        Exchange(ExchangeTimeoutMs);
        result.identification = ReplyText();
    } catch (const LinkError& e) {
        result.error = e.what();
    }
    result.lastReply = ReplyText();
    return result;
}

ControllerOnLine ReadControllerOnLine() {
    ControllerOnLine found;
    try {
        Request(7, 0);
        Exchange(ExchangeTimeoutMs);
        found.serial = static_cast<std::uint16_t>(RxBuffer[0] | (RxBuffer[1] << 8));
        Request(3, 0);
        Exchange(ExchangeTimeoutMs);
        found.identification = ReplyText();
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

QByteArray WriteIdentity(const IdentityChange& change, IdentityWriteSteps* steps) {
    IdentityWriteSteps done;
    IdentityStep* current = &done.address;
    try {
        Request(4, 3);
        TxBuffer[0] = 0x6E;
        TxBuffer[1] = 0x2B;
        TxBuffer[2] = change.address;
        Exchange(ExchangeTimeoutMs);
        DeviceAddress = change.address;
        done.address = IdentityStep::Written;

        current = &done.serial;
        if (change.serial) {
            Request(8, 2);
            TxBuffer[0] = static_cast<std::uint8_t>(*change.serial & 0xFF);
            TxBuffer[1] = static_cast<std::uint8_t>(*change.serial >> 8);
            Exchange(ExchangeTimeoutMs);
            done.serial = IdentityStep::Written;
        } else {
            done.serial = IdentityStep::Skipped;
        }

        current = &done.comment;
        Request(10, CommentPayloadSize);
        BuildCommentPayload(change.comment, TxBuffer);
        Exchange(SetCommentTimeoutMs);
        done.comment = IdentityStep::Written;
    } catch (const LinkError& e) {
        *current = IdentityStep::Failed;
        if (steps)
            *steps = done;
        return QByteArray(e.what());
    }
    if (steps)
        *steps = done;
    return {};
}
