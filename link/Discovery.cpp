#include "Discovery.h"

#include "Exchange.h"
#include "FrameLink.h"

namespace {

// Windows-1251: Л о р к space К, then the Latin B and "-90".
const char kIdentificationPrefix[] = "\xCB\xEE\xF0\xEA\x20\xCA"
                                     "B-90";
// "-2" and the Cyrillic К.
const char kDualChannelMark[] = "-2\xCA";

bool TryPort(FrameLink& link, int n, int speed, QByteArray& text) {
    return ProbePort(link, n) && OpenPort(link, n, speed) && ReadIdentification(link, text) &&
           IsControllerIdentification(text);
}

DiscoveryResult Found(int port, const QByteArray& text) {
    DiscoveryResult result;
    result.port = port;
    result.channelCount = ChannelCountFor(text);
    result.identification = text;
    return result;
}

} // namespace

const QByteArray& IdentificationPrefix() {
    static const QByteArray prefix(kIdentificationPrefix);
    return prefix;
}

const QByteArray& DualChannelMark() {
    static const QByteArray mark(kDualChannelMark);
    return mark;
}

LinkBool ProbePort(const FrameLink& link, int n) {
    return link.AccessCOM(PortName(n).toLatin1().constData());
}

bool OpenPort(FrameLink& link, int n, int speed) {
    if (n == 0) {
        if (link.CurrentPort() != 0)
            link.CloseCOM();
        return false;
    }
    if (n == link.CurrentPort())
        return true;
    if (link.CurrentPort() != 0)
        link.CloseCOM();
    if (!link.OpenCOM(PortName(n).toLatin1().constData(), speed))
        return false;
    if (!link.SetModeCOM(3, 0)) {
        link.CloseCOM();
        return false;
    }
    link.SetModeCOM(3, 0);
    return true;
}

bool ReadIdentification(FrameLink& link, QByteArray& text) {
    const ExchangeResult reply =
        Exchange(link, CommandCode::ReadIdentification, {}, IdentificationTimeoutMs);
    if (!reply.Ok())
        return false;
    text = reply.Text();
    return true;
}

bool IsControllerIdentification(const QByteArray& text) {
    return text.contains(IdentificationPrefix());
}

int ChannelCountFor(const QByteArray& text) {
    return text.contains(DualChannelMark()) ? 2 : 1;
}

DiscoveryResult DiscoverController(FrameLink& link, int configuredPort, int speed) {
    QByteArray text;
    if (TryPort(link, configuredPort, speed, text))
        return Found(link.CurrentPort(), text);
    link.CloseCOM();
    for (int n = 1; n <= LastScannedPort; ++n) {
        text.clear();
        if (TryPort(link, n, speed, text))
            return Found(link.CurrentPort(), text);
        link.CloseCOM();
    }
    return {};
}

DiscoveryResult FindControllerOn(FrameLink& link, const Port& port, int speed) {
    QByteArray text;
    // A port the caller opened already (to tell a port that does not open from a silent line)
    // is used as it is.
    const bool open =
        (link.IsOpen() && link.CurrentDevice() == port.device) || link.Open(port, speed);
    if (open && link.SetModeCOM(3, 0) && ReadIdentification(link, text) &&
        IsControllerIdentification(text))
        return Found(port.number, text);
    link.CloseCOM();
    return {};
}
