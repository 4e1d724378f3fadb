#pragma once

// Reading one controller without a window, on a link the caller owns: open the named port, find
// the controller there, read its identity as the window does, download the whole archive and
// ask who is on the line afterwards. Runs on the caller's thread; several reads run at once on
// links of their own, each on its own thread if the caller wants. Keeping what was read is the
// session's (ServiceSession::SetController, SetIdentityRead, KeepDownload).
//
// Failures are outcomes, never exceptions: the read stops at the first step that failed and says
// which step and why (a time-out apart from a failed or lost port).

#include "ArchiveDownload.h"
#include "Discovery.h"
#include "FrameLink.h"
#include "IdentityCommands.h"

#include <functional>

enum class ControllerReadOutcome {
    Completed,
    NoController, // the port does not open, or nothing on it answers as the controller
    TxError,      // a request could not be sent (the identity's or the download's)
    RxError,      // no answer came in time (the identity's or the 21st of the download)
    PortLost,     // the port failed or went away (a pulled cable) during the identity or download
    Cancelled,
};

// Every hook is optional; they are called on the caller's thread.
struct ControllerReadHooks {
    std::function<void(int offset)> onProgress; // as DownloadHooks
    std::function<void(int)> onTxFailures;
    std::function<void(int)> onRxFailures;
    std::function<bool()> cancelled; // asked before the download and once per block
    // Another download in place of the whole one (the read of only the new records), given the
    // read so far (the controller found, its identity); it calls its own progress hooks.
    std::function<DownloadResult(FrameLink&, const struct ControllerRead&)> download;
};

struct ControllerRead {
    ControllerReadOutcome outcome = ControllerReadOutcome::NoController;
    DiscoveryResult found;       // port 0 when no controller answered
    IdentityReadResult identity; // as the window's "Прочитать" returns it
    DownloadResult download;     // the image when Completed; the failure counts otherwise
    ControllerOnLine onLine;     // who answered right after the download
};

// Reads the controller on the port (as resolved where the user named it) at the given speed,
// asking the link's DeviceAddress. The link is left open on the port when the controller was
// found (the caller closes it, or reads again), closed otherwise.
ControllerRead ReadController(FrameLink& link, const Port& port, int speed,
                              const ControllerReadHooks& hooks = {});
