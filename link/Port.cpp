#include "Port.h"

namespace {

// "TCP://box:1" and "tcp://box:1" are one address and are shown alike.
QString WithSchemeInLowerCase(const QString& device) {
    if (device.startsWith(u"dialin:", Qt::CaseInsensitive))
        return QStringLiteral("dialin:") + device.mid(7);
    const qsizetype scheme = device.indexOf(u"://");
    if (scheme <= 0 || !NamesNetworkPort(device))
        return device;
    return device.left(scheme).toLower() + device.mid(scheme);
}

} // namespace

QString Port::Shown() const {
    if (number > 0 && NamesNetworkPort(device))
        return via.isEmpty()
                   ? QStringLiteral("%1 (%2)").arg(named, WithSchemeInLowerCase(device))
                   : QStringLiteral("%1 (%2, %3)").arg(named, WithSchemeInLowerCase(device), via);
    return via.isEmpty() ? named : QStringLiteral("%1 (%2)").arg(named, via);
}

Port ResolvePort(int n, const PortMap& ports) {
    Port port;
    port.named = PortName(n);
    port.number = n;
    port.device = ports.DeviceFor(n);
    port.refusal = ports.RefusedCause(n);
    return port;
}

Port PortOfDevice(const QString& device) {
    Port port;
    port.device = WithSchemeInLowerCase(device.trimmed());
    port.named = port.device;
    return port;
}

Port ResolvePort(const QString& named, const PortMap& ports) {
    if (const int n = PortNumber(named.trimmed()); n > 0)
        return ResolvePort(n, ports);
    return PortOfDevice(named);
}
