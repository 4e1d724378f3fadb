#include "ControllerRead.h"

#include "Discovery.h"
#include "FrameLink.h"
#include "PortMap.h"

#include <utility>

ControllerRead ReadController(const ControllerReadRequest& request, const DownloadHooks& hooks) {
    using Outcome = ControllerRead::Outcome;
    ControllerRead read;
    DeviceAddress = request.address;
    if (!OpenPort(request.port, request.speed))
        return read;
    read.device = CurrentDevice();
    QByteArray identification;
    if (!ReadIdentification(identification) || !IsControllerIdentification(identification)) {
        CloseCOM();
        read.outcome = Outcome::NoController;
        return read;
    }
    read.channelCount = ChannelCountFor(identification);
    read.identity = ReadIdentity();
    DownloadResult download = DownloadArchive(hooks);
    read.txFailures = download.txFailures;
    read.rxFailures = download.rxFailures;
    switch (download.outcome) {
    case DownloadOutcome::Completed:
        read.outcome = Outcome::Completed;
        read.image = std::move(download.image);
        read.onLine = ReadControllerOnLine();
        break;
    case DownloadOutcome::TxError:
    case DownloadOutcome::Cancelled:
        read.outcome = Outcome::TxError;
        break;
    case DownloadOutcome::RxError:
        read.outcome = Outcome::RxError;
        break;
    }
    CloseCOM();
    // A port that failed stays failed; whether its device is still there tells a pulled cable
    // from a controller that stopped answering.
    if (read.outcome != Outcome::Completed &&
        !AccessCOM(PortName(request.port).toLatin1().constData()))
        read.outcome = Outcome::PortLost;
    return read;
}
