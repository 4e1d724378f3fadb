#include "Port.h"

namespace {

// "TCP://box:1" and "tcp://box:1" are one address and are shown alike.
QString WithSchemeInLowerCase(const QString& device) {
    const qsizetype scheme = device.indexOf(u"://");
    if (scheme <= 0 || !NamesNetworkPort(device))
        return device;
    return device.left(scheme).toLower() + device.mid(scheme);
}

} // namespace

QString Port::Shown() const {
    if (number > 0 && NamesNetworkPort(device))
        return QStringLiteral("%1 (%2)").arg(named, WithSchemeInLowerCase(device));
    return named;
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
