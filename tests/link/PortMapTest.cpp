// Port names and the devices behind them.

#include "PortMap.h"

#include <gtest/gtest.h>

namespace {

class PortMapTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetPortMap({});
        SetSystemSerialDevices([] { return QStringList{}; });
    }
};

TEST_F(PortMapTest, ExplicitEntriesFirstThenTheMachinesDevicesInOrder) {
    SetSystemSerialDevices([] {
        return QStringList{"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0", "/dev/ttyS1"};
    });
    SetPortMap({{2, "/dev/ttyUSB0"}, {5, "/dev/pts/7"}});

    // Unmapped numbers take the devices not mapped explicitly, lowest number first.
    EXPECT_EQ(DeviceForPortName("COM1"), "/dev/ttyACM0");
    EXPECT_EQ(DeviceForPortName("COM2"), "/dev/ttyUSB0");
    EXPECT_EQ(DeviceForPortName("COM3"), "/dev/ttyS0");
    EXPECT_EQ(DeviceForPortName("COM4"), "/dev/ttyS1");
    EXPECT_EQ(DeviceForPortName("COM5"), "/dev/pts/7");
    EXPECT_EQ(DeviceForPortName("COM6"), "");
    EXPECT_EQ(DeviceForPortName("COM19"), "");
    EXPECT_EQ(DeviceForPortName("com4"), "/dev/ttyS1");
}

TEST_F(PortMapTest, OnlyComAndANumberIsAPortName) {
    SetSystemSerialDevices([] { return QStringList{"/dev/ttyS0"}; });
    EXPECT_EQ(DeviceForPortName("COM1"), "/dev/ttyS0");
    for (const char* name : {"", "COM", "COM0", "COM-1", "COM1 ", "COM+1", "LPT1", "/dev/ttyS0"})
        EXPECT_EQ(DeviceForPortName(name), "") << name;
}

} // namespace
