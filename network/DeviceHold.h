#pragma once

// One reader at a time for each device on the network, on this machine. A box that lets two
// connections in gives both the same line, and each then takes the other's answers: so a device
// is held while a stream has it open, by what its name resolves to, not by how it is written
// ("tcp://127.0.0.1:4001", "TCP://localhost:4001" and "rfc2217://localhost:4001" are one
// device). Within this program a table of held names says it; between programs of this user a
// lock file per name in the hold folder, which no longer counts once its process has ended (a
// reader killed midway holds nothing).
//
// Failures are results: a device another reader holds is refused with the holder in plain
// Russian ("порт занят: …"); a hold folder that cannot be written refuses too, since the device
// could then be read twice unseen.

#include <QString>
#include <QStringList>

#include <memory>

// The names under which a device is held: for a port on the network ("tcp://…", "rfc2217://…"),
// one per address its host resolves to (waiting at most ConnectTimeoutMs; a name that does not
// resolve is its own, in lower case); any other device is its own name. Two devices with a name
// in common are one device. For a collection that must not read one device twice at once.
QStringList DeviceKeys(const QString& device);

class DeviceHold {
public:
    // folder: where the lock files go (the program's state folder's "ports", PortMap's
    // HoldFolder()); empty: the devices are held within this program only.
    explicit DeviceHold(const QString& folder = {});
    ~DeviceHold(); // Release()
    DeviceHold(const DeviceHold&) = delete;
    DeviceHold& operator=(const DeviceHold&) = delete;

    // Takes every name, or none: false when one is held (here or by another program) or cannot
    // be taken, with the cause in Refusal(). A hold already taken is released first.
    bool Take(const QStringList& names);
    // Lets the names go; harmless when none are held.
    void Release();
    QString Refusal() const { return refusal_; }
    // The last Take was refused because another reader holds a name (not for a folder or a
    // file that cannot be made).
    bool HeldByAnother() const { return heldByAnother_; }

private:
    struct Files;
    std::unique_ptr<Files> files_;
    QString folder_;
    QStringList names_;
    QString refusal_;
    bool heldByAnother_ = false;
};
