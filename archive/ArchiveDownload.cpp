#include "ArchiveDownload.h"

#include <utility>

static_assert(ArchiveSize % FlashBlockLength == 0, "the archive is read in whole blocks");

namespace {

DownloadResult Aborted(DownloadOutcome outcome, int tx, int rx, LinkOutcome lastFailure) {
    DownloadResult r;
    r.outcome = outcome;
    r.txFailures = tx;
    r.rxFailures = rx;
    r.lastFailure = lastFailure;
    return r;
}

} // namespace

DownloadResult DownloadArchive(FrameLink& link, const DownloadHooks& hooks) {
    QByteArray image;
    image.reserve(ArchiveSize);
    int tx = 0;
    int rx = 0;
    LinkOutcome lastFailure = LinkOutcome::Ok;

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
        bool firstRequest = true;
        for (;;) {
            const LinkOutcome sent = RequestFlashBlock(link, offset, length);
            if (sent != LinkOutcome::Ok) {
                ++tx;
                lastFailure = sent;
                if (hooks.onTxFailures)
                    hooks.onTxFailures(tx);
            }
            if (firstRequest && hooks.onProgress && shownOffset != static_cast<int>(offset)) {
                shownOffset = static_cast<int>(offset);
                hooks.onProgress(shownOffset);
            }
            if (tx > DownloadFailureLimit)
                return Aborted(DownloadOutcome::TxError, tx, rx, lastFailure);
            if (firstRequest) {
                firstRequest = false;
                if (hooks.processEvents)
                    hooks.processEvents();
                // The window may have been closed while its messages were processed; then the
                // port is closed and nothing may be touched any more.
                if (hooks.cancelled && hooks.cancelled())
                    return Aborted(DownloadOutcome::Cancelled, tx, rx, lastFailure);
            }

            // Tried even after a failed transmission: only the reception decides. A short or long
            // reply would shift every later byte of the image: it counts as a failed reception.
            const FlashBlock block = ReceiveFlashBlock(link, length);
            if (block.outcome != LinkOutcome::Ok) {
                ++rx;
                lastFailure = block.outcome;
                if (hooks.onRxFailures)
                    hooks.onRxFailures(rx);
            }
            if (rx > DownloadFailureLimit)
                return Aborted(DownloadOutcome::RxError, tx, rx, lastFailure);
            if (block.outcome == LinkOutcome::Ok) {
                image.append(reinterpret_cast<const char*>(block.bytes.data()),
                             static_cast<qsizetype>(block.bytes.size()));
                break;
            }
        }
        offset += length;
    }
    if (hooks.onProgress)
        hooks.onProgress(ArchiveSize);

    DownloadResult r;
    r.image = std::move(image);
    r.txFailures = tx;
    r.rxFailures = rx;
    r.lastFailure = lastFailure;
    return r;
}
