// The settings' "Ports" section on Windows: a port name as the value is that port's device, with
// the prefix the system needs above COM9; any other value is used as written.

#include "PortMap.h"

#include <gtest/gtest.h>

namespace {

class PortMapWindows : public ::testing::Test {
protected:
    void TearDown() override { SetPortMap({}); }
};

TEST_F(PortMapWindows, PortNameValuesGetThePrefixOtherPathsStayAsWritten) {
    SetPortMap({{1, QStringLiteral("COM12")},
                {2, QStringLiteral("com3")},
                {3, QStringLiteral("\\\\.\\COM15")},
                {4, QStringLiteral("\\\\.\\Global\\VCP0")},
                {5, QStringLiteral("COM0")},
                {6, QStringLiteral("COM 7")}});
    EXPECT_EQ(DeviceForPortName(QStringLiteral("COM1")), QStringLiteral("\\\\.\\COM12"));
    EXPECT_EQ(DeviceForPortName(QStringLiteral("COM2")), QStringLiteral("\\\\.\\COM3"));
    EXPECT_EQ(DeviceForPortName(QStringLiteral("COM3")), QStringLiteral("\\\\.\\COM15"));
    EXPECT_EQ(DeviceForPortName(QStringLiteral("COM4")), QStringLiteral("\\\\.\\Global\\VCP0"));
    EXPECT_EQ(DeviceForPortName(QStringLiteral("COM5")), QStringLiteral("COM0"));
    EXPECT_EQ(DeviceForPortName(QStringLiteral("COM6")), QStringLiteral("COM 7"));
}

TEST_F(PortMapWindows, UnmappedNumbersAreTheSystemsOwnPorts) {
    SetPortMap({{1, QStringLiteral("COM12")}});
    EXPECT_EQ(DeviceForPortName(QStringLiteral("COM11")), QStringLiteral("\\\\.\\COM11"));
    EXPECT_TRUE(DeviceForPortName(QStringLiteral("LPT1")).isEmpty());
    // The explicit entry is listed with its device whether or not the system has that port.
    const auto ports = AssignedPorts();
    ASSERT_FALSE(ports.empty());
    EXPECT_EQ(ports.front(), std::pair(1, QStringLiteral("\\\\.\\COM12")));
}

} // namespace
