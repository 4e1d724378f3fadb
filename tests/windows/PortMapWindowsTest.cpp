// The settings' "Ports" section on Windows: a port name as the value is that port's device, with
// the prefix the system needs above COM9; any other value is used as written.

#include "PortMap.h"

#include <gtest/gtest.h>

namespace {

TEST(PortMapWindows, PortNameValuesGetThePrefixOtherPathsStayAsWritten) {
    const PortMap map({{1, QStringLiteral("COM12")},
                       {2, QStringLiteral("com3")},
                       {3, QStringLiteral("\\\\.\\COM15")},
                       {4, QStringLiteral("\\\\.\\Global\\VCP0")},
                       {5, QStringLiteral("COM0")},
                       {6, QStringLiteral("COM 7")}});
    EXPECT_EQ(map.DeviceFor(1), QStringLiteral("\\\\.\\COM12"));
    EXPECT_EQ(map.DeviceFor(2), QStringLiteral("\\\\.\\COM3"));
    EXPECT_EQ(map.DeviceFor(3), QStringLiteral("\\\\.\\COM15"));
    EXPECT_EQ(map.DeviceFor(4), QStringLiteral("\\\\.\\Global\\VCP0"));
    EXPECT_EQ(map.DeviceFor(5), QStringLiteral("COM0"));
    EXPECT_EQ(map.DeviceFor(6), QStringLiteral("COM 7"));
    EXPECT_EQ(map.MappedNumber(QStringLiteral("\\\\.\\COM3")), 2);
}

TEST(PortMapWindows, UnmappedNumbersAreTheSystemsOwnPorts) {
    const PortMap map({{1, QStringLiteral("COM12")}});
    EXPECT_EQ(map.DeviceFor(11), QStringLiteral("\\\\.\\COM11"));
    EXPECT_TRUE(map.DeviceFor(PortNumber(u"LPT1")).isEmpty());
    // The explicit entry is listed with its device whether or not the system has that port.
    const auto ports = map.Assigned();
    ASSERT_FALSE(ports.empty());
    EXPECT_EQ(ports.front(), std::pair(1, QStringLiteral("\\\\.\\COM12")));
}

} // namespace
