#pragma once

// Port names "COM<n>" and the devices behind them, as one value that whoever opens ports is
// given (a link, a collection, the port survey); nothing here is process-wide. A number listed
// in the settings' "Ports" section names its device explicitly; the numbers without an entry are
// given, lowest first, to the machine's serial devices in a fixed order, skipping devices mapped
// explicitly. With {3: /dev/ttyUSB0} and the devices /dev/ttyUSB0, /dev/ttyS0, /dev/ttyS1, COM1
// is /dev/ttyS0, COM2 /dev/ttyS1, COM3 /dev/ttyUSB0, and COM4 has no device. On Windows a number
// without an entry is the system's port of that name (\\.\COM<n>).

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>
#include <map>
#include <utility>
#include <vector>

// Discovery tries the ports COM1 to COM19.
constexpr int LastScannedPort = 19;

// "COM" and the number in decimal: PortName(12) is "COM12".
QString PortName(int n);

// The number of a port name: "COM" in any letter case followed by decimal digits only, from 1.
// 0 for anything else ("COM0", "COM+1", "COM 1", "LPT1", "/dev/ttyS0"). The one parser of port
// names: the link and the settings' "Ports" section both use it.
int PortNumber(QStringView name);

// Whether a port-map value names a port on the network rather than a device: it begins with a
// scheme and "://" ("tcp://10.1.2.3:4001", "rfc2217://box:2001"), or "dialin:" (a modem that
// calls in, "dialin:KV0042"); network/ parses it whole.
bool NamesNetworkPort(QStringView device);

class PortMap {
public:
    // Which machine devices are handed to unmapped numbers, in order. Empty: the machine's own
    // (USB adapters, /dev/ttyUSB* then /dev/ttyACM* each in number order, then the built-in
    // ports the system lists, in name order). Tests give a lister that returns nothing so that no
    // real device of the machine is ever touched.
    using DeviceLister = std::function<QStringList()>;

    // No entries: every number is the machine's.
    PortMap() = default;
    // The explicit entries, e.g. {3, "/dev/ttyUSB0"}, and the numbers whose entry in the
    // settings was refused, each with the refusal's text. A refused number names no device: it
    // is never handed to one of the machine's devices (the user meant another device by it), and
    // the numbers after it keep the devices they would have with its entry accepted.
    explicit PortMap(const std::map<int, QString>& explicitPorts,
                     const std::map<int, QString>& refusedPorts = {},
                     DeviceLister systemDevices = {});

    // The device of "COM<n>"; empty when no device belongs to it or its entry was refused.
    QString DeviceFor(int n) const;
    // Why the number names no device although the settings give it one: the refusal of its
    // entry; empty for every other number.
    QString RefusedCause(int n) const;
    // Every number that names a device now, lowest first, with its device: the explicit entries
    // and the machine's devices with the numbers DeviceFor gives them (never a refused number).
    std::vector<std::pair<int, QString>> Assigned() const;
    // The lowest number whose explicit entry names device, or 0. The machine's devices are not
    // looked at: only an entry names a port on the network.
    int MappedNumber(const QString& device) const;

    // Where readers of this user hold the ports on the network they read (DeviceHold.h); empty:
    // they are held within this program only.
    QString HoldFolder() const { return holdFolder_; }
    void SetHoldFolder(const QString& folder) { holdFolder_ = folder; }

private:
    // The machine's devices without an explicit entry, in the order unmapped numbers get them.
    QStringList FreeDevices() const;

    std::map<int, QString> explicit_;
    std::map<int, QString> refused_;
    DeviceLister lister_;
    QString holdFolder_;
};
