#pragma once

// Downloads the controller's whole archive (0x42000 bytes) over the link given, 32 bytes per
// exchange with the flash read of link/ (FlashRead.h), from offset 0 to the end, in address
// order. Several downloads run at once on links of their own, each on its own thread if its
// caller wants.
//
// Failures are counted over the whole run, never reset within it: a failed transmission is
// counted and the reception of the same exchange is still tried (a reply can arrive anyway); a
// failed reception is counted and the same block is asked for again. The run aborts at the 21st
// failure of one kind; the transmission limit is tested before the reception of the same
// exchange. A reply whose payload is not exactly the 32 bytes asked for counts as a failed
// reception. A port that failed or went away ends the run at once (TxError or RxError with the
// cause PortFailed): asking it again would only count on.
//
// An answer that timed out may still come, and while a later request waits it would pass for
// that request's answer, every later block shifted by one. So a block whose answer timed out is
// not taken until the line is proven in step: its first bytes are read once more in a read of
// another length (passing over answers of other lengths) until that answer comes and agrees;
// a check that fails counts as a failed transmission or reception like any other, and a check
// whose bytes differ asks for the block again. A fault-free run sends exactly the 8,448 block
// requests.
//
// Decoding is not done here: the caller hands the completed image to DecodeArchive.

#include "ArchiveGeometry.h"
#include "FlashRead.h"
#include "FrameLink.h"

#include <QByteArray>

#include <cstdint>
#include <functional>

constexpr int FlashBlockCount = ArchiveSize / FlashBlockLength; // 8,448 exchanges a run
constexpr int DownloadFailureLimit = 20; // the 21st failure of one kind aborts the run

enum class DownloadOutcome { Completed, TxError, RxError, Cancelled };

struct DownloadResult {
    DownloadOutcome outcome = DownloadOutcome::Completed;
    QByteArray image; // the whole archive when Completed, empty otherwise
    int txFailures = 0;
    int rxFailures = 0;
    // Why the last failed transmission or reception failed (Ok when none did): a time-out or a
    // wrong answer apart from a failed or lost port, which the outcome's text does not tell.
    LinkOutcome lastFailure = LinkOutcome::Ok;
};

// Every hook is optional.
struct DownloadHooks {
    std::function<void()> processEvents;        // once per block, after its first request left
    std::function<void(int)> onTxFailures;      // after each failed transmission, with the count
    std::function<void(int)> onRxFailures;      // after each failed reception, with the count
    std::function<void(int offset)> onProgress; // each block's end offset, before the next
                                                // block's processEvents and after the last block
    std::function<bool()> cancelled;            // asked once per block, after processEvents;
                                                // a cancelled run does not wait for the answer
};

// A caller's hooks passed on to a download or a read of new records: the events, the failure
// counts and the cancel, each as the caller's own hook of that name gives it (the progress is
// the caller's to translate).
template <typename To, typename From> To PassedHooks(const From& from) {
    To to;
    if constexpr (requires { from.processEvents; })
        to.processEvents = from.processEvents;
    to.onTxFailures = from.onTxFailures;
    to.onRxFailures = from.onRxFailures;
    to.cancelled = from.cancelled;
    return to;
}

// Runs one download on the link from offset 0 with zero counters and an empty image. A
// cancelled run returns Cancelled at once and touches neither the link nor any hook again.
DownloadResult DownloadArchive(FrameLink& link, const DownloadHooks& hooks);

// One block of length bytes from offset with the retry order above, the failures counted on in
// counts (its txFailures, rxFailures and lastFailure) and told through hooks' onTxFailures and
// onRxFailures. afterFirstRequest (optional) is called once, right after the first request was
// sent (and its failure counted), before the transmission limit is tested; then hooks'
// processEvents and cancelled are asked once. Appends the bytes to image and returns Completed,
// or returns TxError, RxError or Cancelled (nothing appended; a cancelled block touches the link
// no more). The whole download and the read of only the new records ask every block this way.
DownloadOutcome FetchArchiveBlock(FrameLink& link, std::uint32_t offset, std::uint8_t length,
                                  const DownloadHooks& hooks,
                                  const std::function<void()>& afterFirstRequest,
                                  DownloadResult& counts, QByteArray& image);
