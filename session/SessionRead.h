#pragma once

// The window's two reads of the controller it found, on its own link: the whole archive
// ("Прочитать данные из регулятора") or only the records new since the controller's newest kept
// download ("Сервис" → "Прочитать новые записи", NewRecordsDownload.h). Either run asks who is
// on the line right after its last block, so that a moved cable cannot put the archive under the
// controller read before, and a completed run is kept in the session as every download is
// (ServiceSession::KeepDownload). Runs on the caller's thread; the hooks let it handle its
// events between blocks.
//
// Failures are outcomes, as the downloads': a run that fails or is cancelled keeps nothing.

#include "ArchiveDownload.h"
#include "FrameLink.h"
#include "ServiceSession.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

enum class SessionReadKind { WholeArchive, NewRecords };

// Every hook is optional; they are called on the caller's thread.
struct SessionReadHooks {
    std::function<void()> processEvents; // once per block, after its first request left
    std::function<void(int)> onTxFailures;
    std::function<void(int)> onRxFailures;
    std::function<bool()> cancelled; // asked once per block, after processEvents
    // How far the run is: done out of total. A whole read counts bytes (each block's end offset
    // out of ArchiveSize); a read of the new records counts blocks, and its total may change
    // while it finds its way (8,448 once it reads the whole archive).
    std::function<void(int done, int total)> onProgress;
    // A read of the new records reads the whole archive from here on, for this cause.
    std::function<void(const QString& cause)> onWholeRead;
};

struct SessionRead {
    DownloadOutcome outcome = DownloadOutcome::Completed;
    ServiceSession::KeptDownload kept; // what was kept and is now shown, when Completed
    // Set when only the new records were read: the blocks taken from the controller.
    std::optional<int> blocksRead;
    // Why a read of the new records read the whole archive; empty for a whole read.
    QString wholeReadCause;
};

// Runs the read of the given kind on link, against the controller and the kept downloads the
// session holds, and keeps a completed run under port (the port as the kept file names it),
// dated by the computer's clock when the run ended.
// sampleSeed chooses the blocks a read of the new records checks.
SessionRead ReadIntoSession(ServiceSession& session, FrameLink& link, SessionReadKind kind,
                            const QString& port, const SessionReadHooks& hooks,
                            std::uint64_t sampleSeed);

// What the status bar says after a completed read: that another controller answered after it
// (the archive is kept under that one), how much a read of the new records took from the
// controller, or why it read the whole archive; empty after a whole read of the controller shown.
QString SessionReadNotice(const SessionRead& read);
