#include "ArchiveDownload.h"

#include <algorithm>
#include <utility>

static_assert(ArchiveSize % FlashBlockLength == 0, "the archive is read in whole blocks");

namespace {

DownloadResult Aborted(DownloadOutcome outcome, const DownloadResult& counts) {
    DownloadResult r;
    r.outcome = outcome;
    r.txFailures = counts.txFailures;
    r.rxFailures = counts.rxFailures;
    r.lastFailure = counts.lastFailure;
    return r;
}

void CountTxFailure(LinkOutcome cause, const DownloadHooks& hooks, DownloadResult& counts) {
    ++counts.txFailures;
    counts.lastFailure = cause;
    if (hooks.onTxFailures)
        hooks.onTxFailures(counts.txFailures);
}

void CountRxFailure(LinkOutcome cause, const DownloadHooks& hooks, DownloadResult& counts) {
    ++counts.rxFailures;
    counts.lastFailure = cause;
    if (hooks.onRxFailures)
        hooks.onRxFailures(counts.rxFailures);
}

// The length of the nth check after a block whose answer timed out: never the block's own, and
// another one for each check of the same block, so that no answer still on its way (to the
// block's askings or to an earlier check) has the length of the check now asked.
std::uint8_t CheckLength(int attempt, std::uint8_t blockLength) {
    const int n = 1 + attempt % (FlashBlockLength - 2);
    return static_cast<std::uint8_t>(n < blockLength ? n : n + 1);
}

// A port that failed or went away stays so, and asking on only counts on: the run ends at once,
// with the message the counts would have come to, every later exchange failing both its
// transmission and its reception (the transmission's limit tested first). So a pulled cable says
// the same whether the system told it at a read or at the next write.
bool LostPortEndsInTxError(const DownloadResult& counts, bool atTransmission) {
    int tx = counts.txFailures;
    int rx = counts.rxFailures;
    if (atTransmission && ++rx > DownloadFailureLimit) // this exchange's reception
        return false;
    for (;;) {
        if (++tx > DownloadFailureLimit)
            return true;
        if (++rx > DownloadFailureLimit)
            return false;
    }
}

enum class CheckOutcome { Agrees, Differs, TxError, RxError };

// After a block whose answer timed out once, the answer to an earlier asking may still be on its
// way and would pass for the next block's bytes, every later block shifted by one; no wait for
// quiet excludes that on every line. So the block's first bytes are read once more, in a read of
// another length, until its answer comes: the controller answers in order, so once that answer
// is in, no earlier one can still come, and the line is in step again. The bytes it brings must
// be the block's.
CheckOutcome CheckInStep(FrameLink& link, std::uint32_t offset, const QByteArray& block,
                         const DownloadHooks& hooks, DownloadResult& counts) {
    for (int attempt = 0;; ++attempt) {
        const std::uint8_t length = CheckLength(attempt, static_cast<std::uint8_t>(block.size()));
        const LinkOutcome sent = RequestFlashBlock(link, offset, length);
        if (sent != LinkOutcome::Ok)
            CountTxFailure(sent, hooks, counts);
        if (counts.txFailures > DownloadFailureLimit)
            return CheckOutcome::TxError;
        if (sent == LinkOutcome::PortFailed)
            return LostPortEndsInTxError(counts, true) ? CheckOutcome::TxError
                                                       : CheckOutcome::RxError;
        const FlashBlock answer = ReceiveFlashAnswerOfLength(link, length);
        if (answer.outcome == LinkOutcome::Ok)
            return std::equal(answer.bytes.begin(), answer.bytes.end(), block.begin())
                       ? CheckOutcome::Agrees
                       : CheckOutcome::Differs;
        CountRxFailure(answer.outcome, hooks, counts);
        if (counts.rxFailures > DownloadFailureLimit)
            return CheckOutcome::RxError;
        if (answer.outcome == LinkOutcome::PortFailed)
            return LostPortEndsInTxError(counts, false) ? CheckOutcome::TxError
                                                        : CheckOutcome::RxError;
    }
}

} // namespace

DownloadOutcome FetchArchiveBlock(FrameLink& link, std::uint32_t offset, std::uint8_t length,
                                  const DownloadHooks& hooks,
                                  const std::function<void()>& afterFirstRequest,
                                  DownloadResult& counts, QByteArray& image) {
    bool firstRequest = true;
    bool answerMayBeLate = false;
    for (;;) {
        const LinkOutcome sent = RequestFlashBlock(link, offset, length);
        if (sent != LinkOutcome::Ok)
            CountTxFailure(sent, hooks, counts);
        if (firstRequest && afterFirstRequest)
            afterFirstRequest();
        if (counts.txFailures > DownloadFailureLimit)
            return DownloadOutcome::TxError;
        if (sent == LinkOutcome::PortFailed)
            return LostPortEndsInTxError(counts, true) ? DownloadOutcome::TxError
                                                       : DownloadOutcome::RxError;
        if (firstRequest) {
            firstRequest = false;
            if (hooks.processEvents)
                hooks.processEvents();
            // The window may have been closed while its messages were processed; then the
            // port is closed and nothing may be touched any more.
            if (hooks.cancelled && hooks.cancelled())
                return DownloadOutcome::Cancelled;
        }

        // Tried even after a failed transmission: only the reception decides. A short or long
        // reply would shift every later byte of the image: it counts as a failed reception.
        const FlashBlock block = ReceiveFlashBlock(link, length);
        if (block.outcome != LinkOutcome::Ok) {
            CountRxFailure(block.outcome, hooks, counts);
            if (block.outcome == LinkOutcome::TimedOut)
                answerMayBeLate = true;
        }
        if (counts.rxFailures > DownloadFailureLimit)
            return DownloadOutcome::RxError;
        if (block.outcome == LinkOutcome::PortFailed)
            return LostPortEndsInTxError(counts, false) ? DownloadOutcome::TxError
                                                        : DownloadOutcome::RxError;
        if (block.outcome != LinkOutcome::Ok)
            continue;
        const QByteArray bytes(reinterpret_cast<const char*>(block.bytes.data()),
                               static_cast<qsizetype>(block.bytes.size()));
        if (answerMayBeLate) {
            switch (CheckInStep(link, offset, bytes, hooks, counts)) {
            case CheckOutcome::Agrees:
                break;
            case CheckOutcome::Differs:
                // The line is in step now, but the block's bytes are not the ones its check
                // brought: asked again.
                answerMayBeLate = false;
                CountRxFailure(LinkOutcome::WrongReply, hooks, counts);
                if (counts.rxFailures > DownloadFailureLimit)
                    return DownloadOutcome::RxError;
                continue;
            case CheckOutcome::TxError:
                return DownloadOutcome::TxError;
            case CheckOutcome::RxError:
                return DownloadOutcome::RxError;
            }
        }
        image.append(bytes);
        return DownloadOutcome::Completed;
    }
}

DownloadResult DownloadArchive(FrameLink& link, const DownloadHooks& hooks) {
    QByteArray image;
    image.reserve(ArchiveSize);
    DownloadResult counts;

    // The window's once-per-block work (showing the previous block's progress, handling its
    // messages) is done while the block's first request is on the line, not between the answer
    // and the next request: on a real line that time is spent waiting anyway. Nothing else runs
    // in between, so the user sees the same bar and the same responsiveness.
    int shownOffset = 0;
    for (std::uint32_t offset = 0; offset < static_cast<std::uint32_t>(ArchiveSize);) {
        const std::uint8_t length = static_cast<std::uint8_t>(
            offset + FlashBlockLength < static_cast<std::uint32_t>(ArchiveSize)
                ? FlashBlockLength
                : ArchiveSize - static_cast<int>(offset));
        const DownloadOutcome outcome = FetchArchiveBlock(
            link, offset, length, hooks,
            [&] {
                if (hooks.onProgress && shownOffset != static_cast<int>(offset)) {
                    shownOffset = static_cast<int>(offset);
                    hooks.onProgress(shownOffset);
                }
            },
            counts, image);
        if (outcome != DownloadOutcome::Completed)
            return Aborted(outcome, counts);
        offset += length;
    }
    if (hooks.onProgress)
        hooks.onProgress(ArchiveSize);

    counts.image = std::move(image);
    return counts;
}
