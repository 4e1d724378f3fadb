#pragma once

// Looking up a host's addresses within a time limit, for network/ alone (it needs the toolkit's
// network module). A name lookup cannot be cut short, so it runs on a thread of its own that is
// left to finish alone when it takes too long; its answer then goes nowhere.

#include <QHostAddress>
#include <QList>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

struct HostLookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    QList<QHostAddress> addresses;
    QString error;
};

// Starts looking host up; the caller waits on `done` as long as it likes.
std::shared_ptr<HostLookup> StartHostLookup(const QString& host);

// The addresses of host (an address written out is itself), waiting at most timeoutMs; none
// when the name is unknown or the time ran out.
std::optional<QList<QHostAddress>> LookUpHost(const QString& host, int timeoutMs);

// The names a device on the network is held under while it is read (DeviceHold.h): one per
// address, with the port. An IPv4 address written inside IPv6 is the IPv4 address, and every
// loopback address is one, since one listener of this machine may answer on all of them.
QStringList HeldNames(const QList<QHostAddress>& addresses, std::uint16_t port);
