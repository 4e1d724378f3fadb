#include "Discovery.h"

#include "Exchange.h"
#include "FrameLink.h"

namespace {

// Windows-1251: Л о р к space К, then the Latin B and "-90".
const char kIdentificationPrefix[] = "\xCB\xEE\xF0\xEA\x20\xCA"
                                     "B-90";
// "-2" and the Cyrillic К.
const char kDualChannelMark[] = "-2\xCA";

bool TryPort(int n, int speed, QByteArray& text) {
    return ProbePort(n) && OpenPort(n, speed) && ReadIdentification(text) &&
           IsControllerIdentification(text);
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

LinkBool ProbePort(int n) {
    return AccessCOM(PortName(n).toLatin1().constData());
}

bool OpenPort(int n, int speed) {
    if (n == 0) {
        if (CurrentPort() != 0)
            CloseCOM();
        return false;
    }
    if (n == CurrentPort())
        return true;
    if (CurrentPort() != 0)
        CloseCOM();
    if (!OpenCOM(PortName(n).toLatin1().constData(), speed))
        return false;
    if (!SetModeCOM(3, 0)) {
        CloseCOM();
        return false;
    }
    SetModeCOM(3, 0);
    return true;
}

bool ReadIdentification(QByteArray& text) {
    FrameCommand = 3;
    FrameLength = 0;
    try {
        Exchange(IdentificationTimeoutMs);
    } catch (const LinkError&) {
        return false;
    }
    text = ReplyText();
    return true;
}

bool IsControllerIdentification(const QByteArray& text) {
    return text.contains(IdentificationPrefix());
}

int ChannelCountFor(const QByteArray& text) {
    return text.contains(DualChannelMark()) ? 2 : 1;
}

DiscoveryResult DiscoverController(int configuredPort, int speed) {
    DiscoveryResult result;
    QByteArray text;
    int found = 0;
    if (TryPort(configuredPort, speed, text)) {
        found = configuredPort;
    } else {
        CloseCOM();
        for (int n = 1; n <= LastScannedPort; ++n) {
            text.clear();
            if (TryPort(n, speed, text)) {
                found = n;
                break;
            }
            CloseCOM();
        }
    }
    if (found == 0)
        return result;
    result.port = CurrentPort();
    result.channelCount = ChannelCountFor(text);
    result.identification = text;
    return result;
}
