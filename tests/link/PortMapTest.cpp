// Port names, the devices behind them, and a port as the user named it.

#include "PortMap.h"
#include "Port.h"

#include <gtest/gtest.h>

namespace {

QString DeviceOf(const char* name, const PortMap& ports) {
    return ResolvePort(QString::fromLatin1(name), ports).device;
}

TEST(PortMapTest, ExplicitEntriesFirstThenTheMachinesDevicesInOrder) {
    const PortMap ports({{2, "/dev/ttyUSB0"}, {5, "/dev/pts/7"}}, {}, [] {
        return QStringList{"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS1"};
    });

    // Unmapped numbers take the devices not mapped explicitly, lowest number first.
    EXPECT_EQ(DeviceOf("COM1", ports), "/dev/ttyACM0");
    EXPECT_EQ(DeviceOf("COM2", ports), "/dev/ttyUSB0");
    EXPECT_EQ(DeviceOf("COM3", ports), "/dev/ttyS0");
    EXPECT_EQ(DeviceOf("COM4", ports), "/dev/ttyS1");
    EXPECT_EQ(DeviceOf("COM5", ports), "/dev/pts/7");
    EXPECT_EQ(DeviceOf("COM6", ports), "");
    EXPECT_EQ(DeviceOf("COM19", ports), "");
    EXPECT_EQ(DeviceOf("com4", ports), "/dev/ttyS1");
    EXPECT_EQ(ports.MappedNumber("/dev/pts/7"), 5);
    EXPECT_EQ(ports.MappedNumber("/dev/ttyS0"), 0); // only an entry is looked at
}

TEST(PortMapTest, OnlyComAndANumberIsAPortName) {
    const PortMap ports({}, {}, [] { return QStringList{"/dev/ttyS0"}; });
    EXPECT_EQ(ports.DeviceFor(1), "/dev/ttyS0");
    for (const char* name : {"COM", "COM0", "COM-1", "COM+1", "LPT1"}) {
        EXPECT_EQ(PortNumber(QString::fromLatin1(name)), 0) << name;
        // Anything else is a device named as itself, never a number's.
        EXPECT_EQ(DeviceOf(name, ports), QString::fromLatin1(name)) << name;
    }
}

// One port is shown, and kept with a download, the same way whichever path resolved it: the
// number as usually spelled, with the box's address when the number names one; an address or a
// device named as itself as it is, the scheme in lower case.
TEST(PortMapTest, APortIsShownOneWayWhereverItWasNamed) {
    const PortMap ports({{5, "TCP://127.0.0.1:4001"}, {3, "/dev/pts/7"}},
                        {{2, "запись не принята"}}, [] { return QStringList{}; });
    EXPECT_EQ(ResolvePort("com5", ports).Shown(), "COM5 (tcp://127.0.0.1:4001)");
    EXPECT_EQ(ResolvePort(5, ports).Shown(), "COM5 (tcp://127.0.0.1:4001)");
    EXPECT_EQ(ResolvePort(" COM3 ", ports).Shown(), "COM3");
    EXPECT_EQ(ResolvePort("TCP://127.0.0.1:4001", ports).Shown(), "tcp://127.0.0.1:4001");
    EXPECT_EQ(ResolvePort("TCP://127.0.0.1:4001", ports).device, "tcp://127.0.0.1:4001");
    EXPECT_EQ(ResolvePort("/dev/ttyUSB0", ports).Shown(), "/dev/ttyUSB0");

    const Port refused = ResolvePort("COM2", ports);
    EXPECT_FALSE(refused.NamesDevice());
    EXPECT_EQ(refused.refusal, "запись не принята");
    EXPECT_EQ(refused.Shown(), "COM2");
}

} // namespace
