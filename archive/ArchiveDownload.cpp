#include "ArchiveDownload.h"

#include "FrameLink.h"

#include <utility>

static_assert(ArchiveSize % FlashBlockLength == 0, "the archive is read in whole blocks");

namespace {

// One flash read request: offset least significant byte first, then the byte count.
void PrepareRequest(std::uint32_t offset, std::uint8_t length) {
    TxBuffer[0] = static_cast<std::uint8_t>(offset);
    TxBuffer[1] = static_cast<std::uint8_t>(offset >> 8);
    TxBuffer[2] = static_cast<std::uint8_t>(offset >> 16);
    TxBuffer[3] = static_cast<std::uint8_t>(offset >> 24);
    TxBuffer[4] = length;
    // RxFrame overwrites both with the reply's, so they are set again before every request.
    FrameLength = 5;
    FrameCommand = ReadFlashCommand;
}

DownloadResult Aborted(DownloadOutcome outcome, int tx, int rx) {
    DownloadResult r;
    r.outcome = outcome;
    r.txFailures = tx;
    r.rxFailures = rx;
    return r;
}

} // namespace

DownloadResult DownloadArchive(const DownloadHooks& hooks) {
    QByteArray image;
    image.reserve(ArchiveSize);
    int tx = 0;
    int rx = 0;

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
            PrepareRequest(offset, length);
            if (!TxFrame(DeviceAddress, FrameCommand, FrameLength, TxBuffer)) {
                ++tx;
                if (hooks.onTxFailures)
                    hooks.onTxFailures(tx);
            }
            if (firstRequest && hooks.onProgress && shownOffset != static_cast<int>(offset)) {
                shownOffset = static_cast<int>(offset);
                hooks.onProgress(shownOffset);
            }
            if (tx > DownloadFailureLimit)
                return Aborted(DownloadOutcome::TxError, tx, rx);
            if (firstRequest) {
                firstRequest = false;
                if (hooks.processEvents)
                    hooks.processEvents();
                // The window may have been closed while its messages were processed; then the
                // port is closed and nothing may be touched any more.
                if (hooks.cancelled && hooks.cancelled())
                    return Aborted(DownloadOutcome::Cancelled, tx, rx);
            }

            // Tried even after a failed transmission: only the reception decides.
            bool received =
                RxFrame(FlashReadTimeoutMs, &DeviceAddress, &FrameCommand, &FrameLength, RxBuffer);
            // A short or long reply would shift every later byte of the image.
            if (received && FrameLength != length)
                received = false;
            if (!received) {
                ++rx;
                if (hooks.onRxFailures)
                    hooks.onRxFailures(rx);
            }
            if (rx > DownloadFailureLimit)
                return Aborted(DownloadOutcome::RxError, tx, rx);
            if (received)
                break;
        }
        image.append(reinterpret_cast<const char*>(RxBuffer), length);
        offset += length;
    }
    if (hooks.onProgress)
        hooks.onProgress(ArchiveSize);

    DownloadResult r;
    r.image = std::move(image);
    r.txFailures = tx;
    r.rxFailures = rx;
    return r;
}
