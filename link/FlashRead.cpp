#include "FlashRead.h"

#include "ReplyWait.h"

LinkOutcome RequestFlashBlock(FrameLink& link, std::uint32_t offset, std::uint8_t count) {
    link.TxBuffer[0] = static_cast<std::uint8_t>(offset);
    link.TxBuffer[1] = static_cast<std::uint8_t>(offset >> 8);
    link.TxBuffer[2] = static_cast<std::uint8_t>(offset >> 16);
    link.TxBuffer[3] = static_cast<std::uint8_t>(offset >> 24);
    link.TxBuffer[4] = count;
    // RxFrame overwrites both with the reply's, so they are set again for every request.
    link.FrameLength = 5;
    link.FrameCommand = ReadFlashCommand;
    return link.TxFrame(link.DeviceAddress, link.FrameCommand, link.FrameLength, link.TxBuffer)
               ? LinkOutcome::Ok
               : link.LastOutcome();
}

FlashBlock ReceiveFlashBlock(FrameLink& link, std::uint8_t count) {
    if (!link.RxFrame(FlashReadTimeoutMs, &link.DeviceAddress, &link.FrameCommand,
                      &link.FrameLength, link.RxBuffer))
        return {link.LastOutcome(), {}};
    if (link.FrameLength != count)
        return {LinkOutcome::WrongReply, {}};
    return {LinkOutcome::Ok, std::span<const std::uint8_t>(link.RxBuffer, count)};
}

FlashBlock ReceiveFlashAnswerOfLength(FrameLink& link, std::uint8_t count) {
    LinkOutcome outcome = LinkOutcome::Ok;
    if (!ReceiveReplyThat(
            link, FlashReadTimeoutMs, [&] { return link.FrameLength == count; }, &outcome))
        return {outcome, {}};
    return {LinkOutcome::Ok, std::span<const std::uint8_t>(link.RxBuffer, count)};
}
