#include "PortMap.h"

#include <string>
#include <utility>
#include <windows.h>

// On Windows the port names are the system's own: "COM3" is the device \\.\COM3 (the prefix
// also reaches ports numbered from 10). An entry in the settings' "Ports" section still names
// its device explicitly; the system's device list is not needed.

namespace {

std::map<int, QString>& ExplicitPorts() {
    static std::map<int, QString> ports;
    return ports;
}

std::map<int, QString>& RefusedPorts() {
    static std::map<int, QString> ports;
    return ports;
}

// A "Ports" value that is a port name ("COM12", any letter case) is that port's device; the
// system opens names above COM9 only with the \\.\ prefix. Any other value is a device path
// used as written.
QString DeviceForEntry(const QString& value) {
    const int n = PortNumber(value);
    return n > 0 ? QStringLiteral("\\\\.\\COM%1").arg(n) : value;
}

} // namespace

void SetPortMap(const std::map<int, QString>& explicitPorts,
                const std::map<int, QString>& refusedPorts) {
    ExplicitPorts().clear();
    for (const auto& [n, value] : explicitPorts)
        ExplicitPorts()[n] = DeviceForEntry(value);
    RefusedPorts().clear();
    for (const auto& [n, cause] : refusedPorts)
        if (!explicitPorts.contains(n))
            RefusedPorts()[n] = cause;
}

QString RefusedPortCause(int n) {
    const auto it = RefusedPorts().find(n);
    return it != RefusedPorts().end() ? it->second : QString();
}

void SetSystemSerialDevices(std::function<QStringList()>) {}

QString DeviceForPortName(const QString& name) {
    const int n = PortNumber(name);
    if (n == 0)
        return {};
    if (const auto it = ExplicitPorts().find(n); it != ExplicitPorts().end())
        return it->second;
    // The user meant another device by the number: never the system's port of that name.
    if (RefusedPorts().contains(n))
        return {};
    return QStringLiteral("\\\\.\\COM%1").arg(n);
}

std::vector<std::pair<int, QString>> AssignedPorts() {
    std::map<int, QString> out(ExplicitPorts().begin(), ExplicitPorts().end());
    // The ports the program tries that the system knows now.
    for (int n = 1; n <= LastScannedPort; ++n) {
        wchar_t target[512];
        const std::wstring name = L"COM" + std::to_wstring(n);
        if (!out.contains(n) && !RefusedPorts().contains(n) &&
            QueryDosDeviceW(name.c_str(), target, 512) != 0)
            out[n] = DeviceForPortName(QStringLiteral("COM%1").arg(n));
    }
    return {out.begin(), out.end()};
}

int MappedPortNumber(const QString& device) {
    for (const auto& [number, mapped] : ExplicitPorts())
        if (mapped == device)
            return number;
    return 0;
}
