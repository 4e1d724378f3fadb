#include "TimeLeft.h"

#include <gtest/gtest.h>

TEST(TimeLeft, FromTheRateSoFarRoundedUpAndFormatted) {
    EXPECT_EQ(EstimateSecondsLeft(0, 100, 10.0), std::nullopt) << "nothing done yet";
    EXPECT_EQ(EstimateSecondsLeft(10, 100, 0.1), std::nullopt) << "too early to tell";
    EXPECT_EQ(EstimateSecondsLeft(25, 100, 10.0), 30);
    EXPECT_EQ(EstimateSecondsLeft(3, 100, 1.0), 33) << "32.3 s rounds up";
    EXPECT_EQ(EstimateSecondsLeft(100, 100, 37.0), 0);
    EXPECT_EQ(FormatTimeLeft(65), "осталось 1:05");
    EXPECT_EQ(FormatTimeLeft(3725), "осталось 1:02:05");
}
