#pragma once

// Port names "COM<n>" and the devices behind them. A number listed in the settings' "Ports"
// section names its device explicitly; the numbers without an entry are given, lowest first, to
// the machine's serial devices in a fixed order, skipping devices mapped explicitly. With
// {3: /dev/ttyUSB0} and the devices /dev/ttyUSB0, /dev/ttyS0, /dev/ttyS1, COM1 is /dev/ttyS0,
// COM2 /dev/ttyS1, COM3 /dev/ttyUSB0, and COM4 has no device.

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
// scheme and "://" ("tcp://10.1.2.3:4001", "rfc2217://box:2001"; network/ parses it whole).
bool NamesNetworkPort(QStringView device);

// The explicit entries, e.g. {3, "/dev/ttyUSB0"}, and the numbers whose entry in the settings
// was refused, each with the refusal's text. A refused number names no device: it is never
// handed to one of the machine's devices (the user meant another device by it), and the numbers
// after it keep the devices they would have with its entry accepted. Replaces any earlier map.
void SetPortMap(const std::map<int, QString>& explicitPorts,
                const std::map<int, QString>& refusedPorts = {});

// Why the number names no device although the settings give it one: the refusal of its entry;
// empty for every other number.
QString RefusedPortCause(int n);

// Which machine devices are handed to unmapped numbers, in order. An empty function restores the
// default: USB adapters (/dev/ttyUSB*, then /dev/ttyACM*, each in number order), then the
// built-in ports the system lists, in name order. Tests install a lister that returns nothing so
// that no real device of the machine is ever touched.
void SetSystemSerialDevices(std::function<QStringList()> lister);

// "COM3" (any letter case) -> the device path, or empty when the name is not "COM" and a decimal
// number from 1, no device belongs to it, or its entry was refused.
QString DeviceForPortName(const QString& name);

// Every number that names a device now, lowest first, with its device: the explicit entries and
// the machine's devices with the numbers DeviceForPortName gives them (never a refused number).
std::vector<std::pair<int, QString>> AssignedPorts();

// The lowest number whose explicit entry names device, or 0. The machine's devices are not looked
// at: only an entry names a port on the network.
int MappedPortNumber(const QString& device);
