#include "Exchange.h"

#include "ReplyWait.h"

void Exchange(FrameLink& link, int timeoutMs) {
    const std::uint8_t asked = link.FrameCommand;
    if (!link.TxFrame(link.DeviceAddress, link.FrameCommand, link.FrameLength, link.TxBuffer))
        throw LinkError("TX Error", link.LastOutcome());
    // The controller answers with the command it was asked: a reply to another command (a flash
    // read answered after its time-out) is never taken for this one's.
    LinkOutcome outcome = LinkOutcome::Ok;
    if (!ReceiveReplyThat(
            link, timeoutMs, [&] { return link.FrameCommand == asked; }, &outcome))
        throw LinkError("RX Error", outcome);
    link.LastExchangeReply =
        QByteArray(reinterpret_cast<const char*>(link.RxBuffer), link.FrameLength);
}

QByteArray ReplyText(const FrameLink& link) {
    const QByteArray& reply = link.LastExchangeReply;
    const qsizetype end = reply.indexOf('\0');
    return end < 0 ? reply : reply.left(end);
}
