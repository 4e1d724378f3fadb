#include "PortMap.h"

#include <algorithm>
#include <utility>

// On Windows the port names are the system's own: "COM3" is the device \\.\COM3 (the prefix
// also reaches ports numbered from 10). An entry in the settings' "Ports" section still names
// its device explicitly; the system's device list is not needed.

namespace {

std::map<int, QString>& ExplicitPorts() {
    static std::map<int, QString> ports;
    return ports;
}

// 0 when the name is not a port name.
int PortNumber(const QString& name) {
    if (!name.startsWith("COM", Qt::CaseInsensitive) || name.size() < 4)
        return 0;
    const QStringView digits = QStringView(name).mid(3);
    if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
        return 0;
    bool ok = false;
    const int n = digits.toInt(&ok);
    return ok && n >= 1 ? n : 0;
}

} // namespace

void SetPortMap(const std::map<int, QString>& explicitPorts) {
    ExplicitPorts() = explicitPorts;
}

void SetSystemSerialDevices(std::function<QStringList()>) {}

QString DeviceForPortName(const QString& name) {
    const int n = PortNumber(name);
    if (n == 0)
        return {};
    if (const auto it = ExplicitPorts().find(n); it != ExplicitPorts().end())
        return it->second;
    return QStringLiteral("\\\\.\\COM%1").arg(n);
}
