#include "ArchiveDownload.h"

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

} // namespace

DownloadOutcome FetchArchiveBlock(FrameLink& link, std::uint32_t offset, std::uint8_t length,
                                  const DownloadHooks& hooks,
                                  const std::function<void()>& afterFirstRequest,
                                  DownloadResult& counts, QByteArray& image) {
    bool firstRequest = true;
    for (;;) {
        const LinkOutcome sent = RequestFlashBlock(link, offset, length);
        if (sent != LinkOutcome::Ok) {
            ++counts.txFailures;
            counts.lastFailure = sent;
            if (hooks.onTxFailures)
                hooks.onTxFailures(counts.txFailures);
        }
        if (firstRequest && afterFirstRequest)
            afterFirstRequest();
        if (counts.txFailures > DownloadFailureLimit)
            return DownloadOutcome::TxError;
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
            ++counts.rxFailures;
            counts.lastFailure = block.outcome;
            if (hooks.onRxFailures)
                hooks.onRxFailures(counts.rxFailures);
        }
        if (counts.rxFailures > DownloadFailureLimit)
            return DownloadOutcome::RxError;
        if (block.outcome == LinkOutcome::Ok) {
            image.append(reinterpret_cast<const char*>(block.bytes.data()),
                         static_cast<qsizetype>(block.bytes.size()));
            return DownloadOutcome::Completed;
        }
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
