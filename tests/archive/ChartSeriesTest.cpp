#include "ChartSeries.h"
#include "ArchiveImageBuilder.h"
#include "RelayBands.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace testimage;

namespace {

Record At(int hour, int minute) {
    Record r;
    r.day = 0x02, r.month = 0x01, r.year = 0x24, r.hour = Bcd(hour), r.min = Bcd(minute);
    r.sec = 0;
    r.tenths = {655, 402, 215, 210, 212, -153, 640, 200, 660};
    return r;
}

} // namespace

TEST(ChartSeries, RingOrderGapsInvalidTimesAndLineBreaksOfTwoChannels) {
    QByteArray image = ErasedImage();
    const int ch2 = 0x21000;
    Record missing = At(9, 30);
    missing.tenths[0] = -3000;
    Record badMonth = At(10, 0), badHour = At(10, 30);
    badMonth.month = 0x13, badHour.hour = 0x1A;
    Record relays = At(7, 0);
    relays.relay = 0xFF, relays.air = -1;
    // Channel 2's ring wraps: its oldest records are at the end of its block.
    Place(image, ch2 + 32 * 4218, Encode(At(8, 0)));
    Place(image, ch2 + 32 * 4219, Encode(At(8, 30)));
    Place(image, ch2 + 32 * 0, Encode(At(9, 0)));
    Place(image, ch2 + 32 * 1, Encode(missing));
    Place(image, ch2 + 32 * 2, Encode(badMonth));
    Place(image, ch2 + 32 * 3, Encode(badHour));
    Place(image, ch2 + 32 * 5, Encode(At(12, 0))); // 2.5 hours after 9:30: a break
    Place(image, 0, Encode(relays));

    const auto series = ExtractChartSeries(image, 2);
    ASSERT_EQ(series.size(), 2u);
    const ChannelSeries& s = series[1];
    EXPECT_EQ(s.row, (std::vector<int>{4219, 4220, 1, 2, 6}));
    EXPECT_EQ(s.time[1] - s.time[0], 1800.0);
    EXPECT_EQ(s.invalidTimes, 2);
    EXPECT_TRUE(std::isnan(s.Values(ChartField::Supply)[3])); // never a point at -300 degrees
    EXPECT_EQ(s.Values(ChartField::Supply)[2], 65.5);
    EXPECT_EQ(s.Values(ChartField::Outdoor)[3], -15.3);
    EXPECT_EQ(s.logInterval, 1800.0);
    EXPECT_EQ(s.breaks, std::vector<int>{4});
    EXPECT_EQ(NearestPoint(s, s.time[2] + 1000), 3);

    ASSERT_EQ(series[0].row, std::vector<int>{1});
    EXPECT_EQ(series[0].Values(ChartField::Relay)[0], 255.0);
    EXPECT_EQ(series[0].Values(ChartField::Air)[0], -1.0);
}

TEST(ChartSeries, OneChannelTakesTheWholeRecordAreaAndAnEmptyImageGivesNoPoints) {
    QByteArray image = ErasedImage();
    Place(image, 0x21000, Encode(At(9, 0)));          // record 4225 of the one channel
    Place(image, 0x41F60, Encode(At(8, 0)));          // its last record, 8444
    Place(image, 0x41F80, Encode(SampleSettings(1))); // settings are no record
    const auto series = ExtractChartSeries(image, 1);
    ASSERT_EQ(series.size(), 1u);
    EXPECT_EQ(series[0].row, (std::vector<int>{8444, 4225}));
    EXPECT_TRUE(ExtractChartSeries(ErasedImage(), 1)[0].Empty());
    EXPECT_TRUE(ExtractChartSeries(image.left(100), 2)[1].Empty());
}

// The relays' bands: each record's state lasts until the next record, a stretch ends at a break
// of the log (one interval after its last record), and each bit is its own band.
TEST(RelayBands, StretchesFollowTheRecordsAndStopAtBreaks) {
    ChannelSeries s;
    s.logInterval = 1800;
    s.time = {0, 1800, 3600, 5400, 20000, 21800, 23600};
    //            R1+R3  R1   -    R1    R1 (after a break)  -  R3
    const std::vector<double> relay = {0b101, 0b001, 0, 0b001, 0b001, 0, 0b100};
    s.values[static_cast<int>(ChartField::Relay)] = relay;
    s.breaks = {4}; // the log broke between 5400 and 20000

    const auto r1 = RelayOnStretches(s, 0);
    ASSERT_EQ(r1.size(), 3u);
    EXPECT_EQ(r1[0].from, 0);
    EXPECT_EQ(r1[0].to, 3600); // until the record that has it off
    EXPECT_EQ(r1[1].from, 5400);
    EXPECT_EQ(r1[1].to, 5400 + 1800); // the break ends it one interval on
    EXPECT_EQ(r1[2].from, 20000);
    EXPECT_EQ(r1[2].to, 21800);

    const auto r3 = RelayOnStretches(s, 2);
    ASSERT_EQ(r3.size(), 2u);
    EXPECT_EQ(r3[0].from, 0);
    EXPECT_EQ(r3[0].to, 1800); // a single record still shows
    EXPECT_EQ(r3[1].from, 23600);
    EXPECT_EQ(r3[1].to, 23600 + 1800); // the last record lasts one interval

    EXPECT_TRUE(RelayOnStretches(s, 1).empty());
    EXPECT_TRUE(RelayOnStretches(s, 8).empty());
    EXPECT_TRUE(RelayOnStretches(ChannelSeries{}, 0).empty());
}
