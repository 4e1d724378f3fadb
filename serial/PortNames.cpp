// The port names and what the port map keeps, the same on every platform (PortMap.h).

#include "PortMap.h"

#include <algorithm>
#include <utility>

QString PortName(int n) {
    return QStringLiteral("COM%1").arg(n);
}

int PortNumber(QStringView name) {
    if (!name.startsWith(u"COM", Qt::CaseInsensitive) || name.size() < 4)
        return 0;
    const QStringView digits = name.mid(3);
    // Only 0 to 9: toInt alone would also take a sign, blanks and other scripts' digits.
    if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return 0;
    bool ok = false;
    const int n = digits.toInt(&ok);
    return ok && n >= 1 ? n : 0;
}

bool NamesNetworkPort(QStringView device) {
    if (device.startsWith(u"dialin:", Qt::CaseInsensitive))
        return true; // a modem that calls the office's listener
    const qsizetype colon = device.indexOf(u"://");
    if (colon <= 0)
        return false;
    return std::all_of(device.begin(), device.begin() + colon, [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
    });
}

PortMap::PortMap(const std::map<int, QString>& explicitPorts,
                 const std::map<int, QString>& refusedPorts, DeviceLister systemDevices)
    : explicit_(explicitPorts), lister_(std::move(systemDevices)) {
    for (const auto& [n, cause] : refusedPorts)
        if (!explicitPorts.contains(n))
            refused_[n] = cause;
}

QString PortMap::RefusedCause(int n) const {
    const auto it = refused_.find(n);
    return it != refused_.end() ? it->second : QString();
}
