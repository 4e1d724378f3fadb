#pragma once

// The controller's side of kv9000 --read: every exchange with the controller, in one function.
// It finds the controller on one port, reads its identity as the window does after finding it,
// downloads the whole archive and asks which controller answers right after it; the port is
// closed afterwards in every case.

#include "ArchiveDownload.h"
#include "IdentityCommands.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

struct ControllerReadRequest {
    int port = 0;       // the "COM" number
    int speed = 115200; // bit/s
    std::uint8_t address = 1;
};

struct ControllerRead {
    enum class Outcome {
        Completed,    // image, identity and onLine are filled
        NotOpened,    // the port did not open (missing, in use, no permission)
        NoController, // no identification of the controller came at the address
        TxError,      // the download ended at its 21st failed transmission
        RxError,      // the download ended at its 21st failed reception
        PortLost,     // the download failed and the port's device is gone (a pulled cable)
    };
    Outcome outcome = Outcome::NotOpened;
    QString device;              // the device the port opened ("/dev/ttyUSB0")
    int channelCount = 0;        // 1 or 2 once the controller was found
    IdentityReadResult identity; // the identity read after finding it (its error, if any)
    QByteArray image;            // the whole archive when Completed
    int txFailures = 0;
    int rxFailures = 0;
    ControllerOnLine onLine; // asked right after the download
};

// Runs the read on the link; hooks report the download's progress (cancelled is not asked).
ControllerRead ReadController(const ControllerReadRequest& request, const DownloadHooks& hooks);
