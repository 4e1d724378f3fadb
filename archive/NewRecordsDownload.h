#pragma once

// Reading only what changed (NewRecords.h) over a link, beside the whole download: each block is
// asked for with the download's retry order and failure counters (ArchiveDownload.h: a failed
// transmission is counted and its reception still tried, a failed reception asks again, the
// 21st failure of one kind ends the run). When the read has a doubt, or there is no earlier
// download to start from, the whole archive is downloaded as the window's download does it, with
// counters of its own, and the result says why in one line. A run that fails or is cancelled
// gives no image, whichever part it failed in.

#include "ArchiveDownload.h"
#include "FrameLink.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

// Every hook is optional.
struct NewRecordsDownloadHooks {
    std::function<void()> processEvents; // once per block, after its first request left
    std::function<void(int)> onTxFailures;
    std::function<void(int)> onRxFailures;
    // The blocks read so far out of the blocks the run expects to read (the whole archive's
    // 8,448 once it reads the whole); the total may change while the read finds its way.
    std::function<void(int done, int total)> onBlocks;
    std::function<bool()> cancelled; // asked once per block, after processEvents
    // The whole archive is read from here on, for this cause; the counters start again at zero.
    std::function<void(const QString& cause)> onWholeRead;
};

struct NewRecordsDownloadResult {
    DownloadResult download;          // the whole image when Completed; counts and failure cause
    int blocksRead = FlashBlockCount; // blocks the image took from the controller this run
    QString wholeReadCause;           // empty when only what changed was read
};

// earlier: the last complete download of this controller (ArchiveSize bytes), or empty when there
// is none, with noEarlierCause saying why. sampleSeed chooses the blocks checked.
NewRecordsDownloadResult DownloadNewRecords(FrameLink& link, const QByteArray& earlier,
                                            int channelCount, const QString& noEarlierCause,
                                            const NewRecordsDownloadHooks& hooks,
                                            std::uint64_t sampleSeed);
