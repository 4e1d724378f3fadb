// The port doctor's survey on Windows: the port this program holds itself is shown as open here
// and left to the check through the open link, not reported as held by another program.

#include "OpenDevices.h"
#include "PortMap.h"
#include "PortSurvey.h"

#include <algorithm>

#include <gtest/gtest.h>

namespace {

class PortSurveyWindows : public ::testing::Test {
protected:
    void TearDown() override { NoteDeviceClosed(own_); }
    const QString own_ = QStringLiteral("\\\\.\\COM12");
};

TEST_F(PortSurveyWindows, TheProgramsOwnPortIsOpenHereAndReadyForTheCheck) {
    const PortMap map({{3, QStringLiteral("COM12")}});
    NoteDeviceOpened(own_);
    const SurveyReport report = SurveyPorts(map, SurveyRoots{}, SurveyUser::Current());
    const auto row = std::find_if(report.rows.begin(), report.rows.end(),
                                  [](const PortRow& r) { return r.port == 3; });
    ASSERT_NE(row, report.rows.end());
    EXPECT_TRUE(row->openHere);
    EXPECT_EQ(row->state, PortState::Ready);
    EXPECT_TRUE(row->cause.isEmpty());
    EXPECT_EQ(DescribeRowState(*row), QStringLiteral("открыт этой программой"));
    EXPECT_TRUE(FormatSurveyText(report).contains(QStringLiteral("открыт этой программой")));

    // Closed again, the same port is tried like any other: here it does not exist.
    NoteDeviceClosed(own_);
    const SurveyReport after = SurveyPorts(map, SurveyRoots{}, SurveyUser::Current());
    const auto again = std::find_if(after.rows.begin(), after.rows.end(),
                                    [](const PortRow& r) { return r.port == 3; });
    ASSERT_NE(again, after.rows.end());
    EXPECT_FALSE(again->openHere);
    EXPECT_EQ(again->state, PortState::Missing);
}

TEST(OpenDevices, NamesCompareWithoutLetterCaseAndEachOpenCounts) {
    NoteDeviceOpened(QStringLiteral("\\\\.\\COM5"));
    NoteDeviceOpened(QStringLiteral("\\\\.\\COM5"));
    EXPECT_TRUE(DeviceOpenHere(QStringLiteral("\\\\.\\com5")));
    NoteDeviceClosed(QStringLiteral("\\\\.\\COM5"));
    EXPECT_TRUE(DeviceOpenHere(QStringLiteral("\\\\.\\COM5")));
    NoteDeviceClosed(QStringLiteral("\\\\.\\COM5"));
    EXPECT_FALSE(DeviceOpenHere(QStringLiteral("\\\\.\\COM5")));
}

} // namespace
