#include "PortMap.h"

#include <QCollator>
#include <QDir>
#include <QSerialPortInfo>

#include <algorithm>
#include <set>
#include <utility>

namespace {

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

} // namespace

// The machine's devices without an explicit entry, in the order unmapped numbers get them.
QStringList PortMap::FreeDevices() const {
    std::set<QString> mapped;
    for (const auto& [number, device] : explicit_)
        mapped.insert(device);
    QStringList free;
    for (const QString& device : lister_ ? lister_() : DefaultSerialDevices())
        if (!mapped.contains(device) && !free.contains(device))
            free << device;
    return free;
}

QString PortMap::DeviceFor(int n) const {
    if (n <= 0)
        return {};
    if (const auto it = explicit_.find(n); it != explicit_.end())
        return it->second;
    if (refused_.contains(n))
        return {};

    const QStringList free = FreeDevices();

    // n is the k-th number without an entry (a refused entry counts as one); it gets the k-th
    // free device.
    const auto below = [n](const auto& entry) { return entry.first < n; };
    const auto mappedBelow = std::count_if(explicit_.begin(), explicit_.end(), below) +
                             std::count_if(refused_.begin(), refused_.end(), below);
    const qsizetype k = n - 1 - mappedBelow;
    return k < free.size() ? free[k] : QString();
}

std::vector<std::pair<int, QString>> PortMap::Assigned() const {
    std::map<int, QString> out(explicit_.begin(), explicit_.end());
    int n = 1;
    for (const QString& device : FreeDevices()) {
        while (explicit_.contains(n) || refused_.contains(n))
            ++n;
        out[n++] = device;
    }
    return {out.begin(), out.end()};
}

int PortMap::MappedNumber(const QString& device) const {
    for (const auto& [number, mapped] : explicit_)
        if (mapped == device)
            return number;
    return 0;
}
