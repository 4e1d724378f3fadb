#include "PortMap.h"

#include <string>
#include <utility>
#include <windows.h>

// On Windows the port names are the system's own: "COM3" is the device \\.\COM3 (the prefix
// also reaches ports numbered from 10). An entry in the settings' "Ports" section still names
// its device explicitly; the system's device list is not needed.

namespace {

// A "Ports" value that is a port name ("COM12", any letter case) is that port's device; the
// system opens names above COM9 only with the \\.\ prefix. Any other value is a device path
// used as written.
QString DeviceForEntry(const QString& value) {
    const int n = PortNumber(value);
    return n > 0 ? QStringLiteral("\\\\.\\COM%1").arg(n) : value;
}

} // namespace

QStringList PortMap::FreeDevices() const {
    return {};
}

QString PortMap::DeviceFor(int n) const {
    if (n <= 0)
        return {};
    if (const auto it = explicit_.find(n); it != explicit_.end())
        return DeviceForEntry(it->second);
    // The user meant another device by the number: never the system's port of that name.
    if (refused_.contains(n))
        return {};
    return QStringLiteral("\\\\.\\COM%1").arg(n);
}

std::vector<std::pair<int, QString>> PortMap::Assigned() const {
    std::map<int, QString> out;
    for (const auto& [n, value] : explicit_)
        out[n] = DeviceForEntry(value);
    // The ports the program tries that the system knows now.
    for (int n = 1; n <= LastScannedPort; ++n) {
        wchar_t target[512];
        const std::wstring name = L"COM" + std::to_wstring(n);
        if (!out.contains(n) && !refused_.contains(n) &&
            QueryDosDeviceW(name.c_str(), target, 512) != 0)
            out[n] = DeviceFor(n);
    }
    return {out.begin(), out.end()};
}

int PortMap::MappedNumber(const QString& device) const {
    for (const auto& [number, mapped] : explicit_)
        if (DeviceForEntry(mapped) == device)
            return number;
    return 0;
}
