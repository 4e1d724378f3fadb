#include "ControllerRead.h"

namespace {

ControllerReadOutcome FailureOutcome(LinkOutcome cause, bool transmission) {
    if (cause == LinkOutcome::PortFailed || cause == LinkOutcome::NotOpen)
        return ControllerReadOutcome::PortLost;
    return transmission ? ControllerReadOutcome::TxError : ControllerReadOutcome::RxError;
}

// The rest of a read once the controller was looked for.
ControllerRead ReadFound(FrameLink& link, DiscoveryResult found, const ControllerReadHooks& hooks) {
    ControllerRead read;
    read.found = std::move(found);
    if (read.found.channelCount == 0)
        return read; // NoController

    read.identity = ReadIdentity(link);
    if (!read.identity.error.isEmpty()) {
        read.outcome = FailureOutcome(read.identity.cause, read.identity.error == "TX Error");
        return read;
    }
    if (hooks.cancelled && hooks.cancelled()) {
        read.outcome = ControllerReadOutcome::Cancelled;
        return read;
    }

    DownloadHooks download = PassedHooks<DownloadHooks>(hooks);
    download.onProgress = hooks.onProgress;
    read.download = hooks.download ? hooks.download(link, read) : DownloadArchive(link, download);
    switch (read.download.outcome) {
    case DownloadOutcome::Completed:
        // Asked after the last block, so that a moved cable cannot put the archive under the
        // controller read before.
        read.onLine = ReadControllerOnLine(link);
        read.outcome = ControllerReadOutcome::Completed;
        break;
    case DownloadOutcome::TxError:
        read.outcome = FailureOutcome(read.download.lastFailure, true);
        break;
    case DownloadOutcome::RxError:
        read.outcome = FailureOutcome(read.download.lastFailure, false);
        break;
    case DownloadOutcome::Cancelled:
        read.outcome = ControllerReadOutcome::Cancelled;
        break;
    }
    return read;
}

} // namespace

ControllerRead ReadController(FrameLink& link, const Port& port, int speed,
                              const ControllerReadHooks& hooks) {
    return ReadFound(link, FindControllerOn(link, port, speed), hooks);
}
