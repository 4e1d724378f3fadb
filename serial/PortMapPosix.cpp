#include "PortMap.h"

#include <QCollator>
#include <QDir>
#include <QSerialPortInfo>

#include <algorithm>
#include <set>
#include <utility>

namespace {

std::map<int, QString>& ExplicitPorts() {
    static std::map<int, QString> ports;
    return ports;
}

std::map<int, QString>& RefusedPorts() {
    static std::map<int, QString> ports;
    return ports;
}

std::function<QStringList()>& Lister() {
    static std::function<QStringList()> lister;
    return lister;
}

// ttyUSB2 before ttyUSB10.
void SortNaturally(QStringList& names) {
    QCollator collator;
    collator.setNumericMode(true);
    std::sort(names.begin(), names.end(),
              [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
}

QStringList DevicesMatching(const QString& pattern) {
    QStringList out;
    for (const QString& name : QDir("/dev").entryList({pattern}, QDir::System | QDir::Files))
        out << "/dev/" + name;
    SortNaturally(out);
    return out;
}

QStringList DefaultSerialDevices() {
    QStringList out = DevicesMatching("ttyUSB*") + DevicesMatching("ttyACM*");
    QStringList builtIn;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        if (!out.contains(info.systemLocation()))
            builtIn << info.systemLocation();
    SortNaturally(builtIn);
    return out + builtIn;
}

// The machine's devices without an explicit entry, in the order unmapped numbers get them.
QStringList FreeDevices() {
    std::set<QString> mapped;
    for (const auto& [number, device] : ExplicitPorts())
        mapped.insert(device);
    QStringList free;
    for (const QString& device : Lister() ? Lister()() : DefaultSerialDevices())
        if (!mapped.contains(device) && !free.contains(device))
            free << device;
    return free;
}

} // namespace

void SetPortMap(const std::map<int, QString>& explicitPorts,
                const std::map<int, QString>& refusedPorts) {
    ExplicitPorts() = explicitPorts;
    RefusedPorts().clear();
    for (const auto& [n, cause] : refusedPorts)
        if (!explicitPorts.contains(n))
            RefusedPorts()[n] = cause;
}

QString RefusedPortCause(int n) {
    const auto it = RefusedPorts().find(n);
    return it != RefusedPorts().end() ? it->second : QString();
}

void SetSystemSerialDevices(std::function<QStringList()> lister) {
    Lister() = std::move(lister);
}

QString DeviceForPortName(const QString& name) {
    const int n = PortNumber(name);
    if (n == 0)
        return {};
    const auto& explicitPorts = ExplicitPorts();
    if (const auto it = explicitPorts.find(n); it != explicitPorts.end())
        return it->second;
    const auto& refused = RefusedPorts();
    if (refused.contains(n))
        return {};

    const QStringList free = FreeDevices();

    // n is the k-th number without an entry (a refused entry counts as one); it gets the k-th
    // free device.
    const auto below = [n](const auto& entry) { return entry.first < n; };
    const auto mappedBelow = std::count_if(explicitPorts.begin(), explicitPorts.end(), below) +
                             std::count_if(refused.begin(), refused.end(), below);
    const qsizetype k = n - 1 - mappedBelow;
    return k < free.size() ? free[k] : QString();
}

std::vector<std::pair<int, QString>> AssignedPorts() {
    const auto& explicitPorts = ExplicitPorts();
    std::map<int, QString> out(explicitPorts.begin(), explicitPorts.end());
    int n = 1;
    for (const QString& device : FreeDevices()) {
        while (explicitPorts.contains(n) || RefusedPorts().contains(n))
            ++n;
        out[n++] = device;
    }
    return {out.begin(), out.end()};
}

int MappedPortNumber(const QString& device) {
    for (const auto& [number, mapped] : ExplicitPorts())
        if (mapped == device)
            return number;
    return 0;
}
