#include "Exchange.h"

void Exchange(FrameLink& link, int timeoutMs) {
    if (!link.TxFrame(link.DeviceAddress, link.FrameCommand, link.FrameLength, link.TxBuffer))
        throw LinkError("TX Error", link.LastOutcome());
    if (!link.RxFrame(timeoutMs, &link.DeviceAddress, &link.FrameCommand, &link.FrameLength,
                      link.RxBuffer))
        throw LinkError("RX Error", link.LastOutcome());
    link.LastExchangeReply =
        QByteArray(reinterpret_cast<const char*>(link.RxBuffer), link.FrameLength);
}

QByteArray ReplyText(const FrameLink& link) {
    const QByteArray& reply = link.LastExchangeReply;
    const qsizetype end = reply.indexOf('\0');
    return end < 0 ? reply : reply.left(end);
}
