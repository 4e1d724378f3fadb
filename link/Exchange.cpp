#include "Exchange.h"

#include "FrameLink.h"

void Exchange(int timeoutMs) {
    if (!TxFrame(DeviceAddress, FrameCommand, FrameLength, TxBuffer))
        throw LinkError("TX Error");
    if (!RxFrame(timeoutMs, &DeviceAddress, &FrameCommand, &FrameLength, RxBuffer))
        throw LinkError("RX Error");
}
