#include "FlashRead.h"

#include "CommandCode.h"
#include "Exchange.h"
#include "ReplyWait.h"

#include <array>

LinkOutcome RequestFlashBlock(FrameLink& link, std::uint32_t offset, std::uint8_t count) {
    const std::array<std::uint8_t, 5> request{
        static_cast<std::uint8_t>(offset), static_cast<std::uint8_t>(offset >> 8),
        static_cast<std::uint8_t>(offset >> 16), static_cast<std::uint8_t>(offset >> 24), count};
    return SendRequest(link, CommandCode::ReadFlash, request);
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
