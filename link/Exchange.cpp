#include "Exchange.h"

#include "ReplyWait.h"

#include <algorithm>
#include <utility>

ExchangeResult::ExchangeResult(Step step, LinkOutcome cause, QByteArray payload)
    : step_(step), cause_(cause), payload_(std::move(payload)) {}

ExchangeResult ExchangeResult::Replied(QByteArray payload) {
    return {Step::Replied, LinkOutcome::Ok, std::move(payload)};
}

ExchangeResult ExchangeResult::NotSent(LinkOutcome cause) {
    return {Step::NotSent, cause, {}};
}

ExchangeResult ExchangeResult::NoReply(LinkOutcome cause) {
    return {Step::NoReply, cause, {}};
}

QByteArray ExchangeResult::Text() const {
    return PayloadText(payload_);
}

QByteArray ExchangeResult::ErrorText() const {
    switch (step_) {
    case Step::Replied:
        break;
    case Step::NotSent:
        return QByteArrayLiteral("TX Error");
    case Step::NoReply:
        return QByteArrayLiteral("RX Error");
    }
    return {};
}

LinkOutcome SendRequest(FrameLink& link, CommandCode command,
                        std::span<const std::uint8_t> payload) {
    if (payload.size() > kTxBufferSize)
        return LinkOutcome::BadRequest;
    std::copy(payload.begin(), payload.end(), link.TxBuffer);
    // RxFrame overwrites both with the reply's, so they are set again for every request.
    link.FrameCommand = CodeByte(command);
    link.FrameLength = static_cast<std::uint8_t>(payload.size());
    return link.TxFrame(link.DeviceAddress, link.FrameCommand, link.FrameLength, link.TxBuffer)
               ? LinkOutcome::Ok
               : link.LastOutcome();
}

ExchangeResult Exchange(FrameLink& link, CommandCode command, std::span<const std::uint8_t> payload,
                        int timeoutMs) {
    if (const LinkOutcome sent = SendRequest(link, command, payload); sent != LinkOutcome::Ok)
        return ExchangeResult::NotSent(sent);
    LinkOutcome outcome = LinkOutcome::Ok;
    if (!ReceiveReplyThat(
            link, timeoutMs, [&] { return link.FrameCommand == CodeByte(command); }, &outcome))
        return ExchangeResult::NoReply(outcome);
    link.LastExchangeReply =
        QByteArray(reinterpret_cast<const char*>(link.RxBuffer), link.FrameLength);
    return ExchangeResult::Replied(link.LastExchangeReply);
}

QByteArray PayloadText(const QByteArray& payload) {
    const qsizetype end = payload.indexOf('\0');
    return end < 0 ? payload : payload.left(end);
}

QByteArray ReplyText(const FrameLink& link) {
    return PayloadText(link.LastExchangeReply);
}
