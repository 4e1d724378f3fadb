#include "Port.h"

QString Port::Shown() const {
    if (number > 0 && NamesNetworkPort(device))
        return QStringLiteral("%1 (%2)").arg(named, device);
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
    port.device = device.trimmed();
    port.named = port.device;
    // "TCP://box:1" and "tcp://box:1" are one address and are kept alike.
    if (const qsizetype scheme = port.device.indexOf(u"://");
        scheme > 0 && NamesNetworkPort(port.device)) {
        port.device = port.device.left(scheme).toLower() + port.device.mid(scheme);
        port.named = port.device;
    }
    return port;
}

Port ResolvePort(const QString& named, const PortMap& ports) {
    if (const int n = PortNumber(named.trimmed()); n > 0)
        return ResolvePort(n, ports);
    return PortOfDevice(named);
}
