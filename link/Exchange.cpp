#include "Exchange.h"

#include "FrameLink.h"

namespace {

// The payload of the last reply received, as long as that reply was.
QByteArray& LastReply() {
    static QByteArray reply;
    return reply;
}

} // namespace

void Exchange(int timeoutMs) {
    if (!TxFrame(DeviceAddress, FrameCommand, FrameLength, TxBuffer))
        throw LinkError("TX Error");
    if (!RxFrame(timeoutMs, &DeviceAddress, &FrameCommand, &FrameLength, RxBuffer))
        throw LinkError("RX Error");
    LastReply() = QByteArray(reinterpret_cast<const char*>(RxBuffer), FrameLength);
}

QByteArray ReplyText() {
    const QByteArray& reply = LastReply();
    const qsizetype end = reply.indexOf('\0');
    return end < 0 ? reply : reply.left(end);
}
