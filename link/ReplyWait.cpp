#include "ReplyWait.h"

#include <algorithm>
#include <chrono>

bool ReceiveReplyThat(FrameLink& link, int timeoutMs, const std::function<bool()>& belongs,
                      LinkOutcome* outcome) {
    using Clock = std::chrono::steady_clock;
    // RxFrame adds the allowance to every wait it is given: the deadline holds it once.
    const int allowanceMs = link.ReplyAllowanceMs();
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0) + allowanceMs);
    bool passedOver = false;
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (passedOver && left <= 0) {
            *outcome = LinkOutcome::WrongReply;
            return false;
        }
        const int waitMs = static_cast<int>(std::max<decltype(left)>(left - allowanceMs, 0));
        if (!link.RxFrame(waitMs, &link.DeviceAddress, &link.FrameCommand, &link.FrameLength,
                          link.RxBuffer)) {
            *outcome = passedOver && link.LastOutcome() == LinkOutcome::TimedOut
                           ? LinkOutcome::WrongReply
                           : link.LastOutcome();
            return false;
        }
        if (belongs()) {
            *outcome = LinkOutcome::Ok;
            return true;
        }
        passedOver = true;
    }
}
