#include "HostLookup.h"

#include <QHostInfo>

#include <chrono>
#include <thread>

std::shared_ptr<HostLookup> StartHostLookup(const QString& host) {
    auto lookup = std::make_shared<HostLookup>();
    std::thread([lookup, host] {
        const QHostInfo info = QHostInfo::fromName(host);
        const std::lock_guard lock(lookup->mutex);
        lookup->addresses = info.addresses();
        lookup->error = info.errorString();
        lookup->finished = true;
        lookup->done.notify_all();
    }).detach();
    return lookup;
}

std::optional<QList<QHostAddress>> LookUpHost(const QString& host, int timeoutMs) {
    if (QHostAddress literal; literal.setAddress(host))
        return QList<QHostAddress>{literal};
    const auto lookup = StartHostLookup(host);
    std::unique_lock lock(lookup->mutex);
    if (!lookup->done.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return lookup->finished; }) ||
        lookup->addresses.isEmpty())
        return std::nullopt;
    return lookup->addresses;
}

QStringList HeldNames(const QList<QHostAddress>& addresses, std::uint16_t port) {
    QStringList names;
    for (const QHostAddress& address : addresses) {
        bool isIpv4 = false;
        const QHostAddress v4(address.toIPv4Address(&isIpv4));
        QString name = address.isLoopback() || (isIpv4 && v4.isLoopback())
                           ? QStringLiteral("loopback")
                       : isIpv4 ? v4.toString()
                                : address.toString().toLower();
        name += u'-' + QString::number(port);
        if (!names.contains(name))
            names << name;
    }
    return names;
}
