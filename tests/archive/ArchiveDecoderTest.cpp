#include "ArchiveDecoder.h"
#include "ArchiveGeometry.h"
#include "ArchiveImageBuilder.h"
#include "TextGrid.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <vector>

using namespace testimage;

namespace {

QStringList RowTexts(const TextGrid& g, int row) {
    QStringList out;
    for (int c = 0; c < g.ColCount(); ++c)
        out << g.Cell(c, row);
    return out;
}

bool RowEmpty(const TextGrid& g, int row) {
    for (int c = 0; c < g.ColCount(); ++c)
        if (!g.Cell(c, row).isEmpty())
            return false;
    return true;
}

void FillWith(TextGrid& g, const QString& text) {
    for (int r = 0; r < g.RowCount(); ++r)
        for (int c = 0; c < g.ColCount(); ++c)
            g.SetCell(c, r, text);
}

struct Grids {
    TextGrid g1{DataGridColumns, 4220};
    TextGrid g2{SettingsGridColumns, 5};
    TextGrid g3{DataGridColumns, 4220};
    TextGrid g4{SettingsGridColumns, 5};
    std::array<TextGrid*, 4> All() { return {&g1, &g2, &g3, &g4}; }
};

// Counts what a grid's listener hears.
struct Notices {
    int aboutToReset = 0, reset = 0, cellChanged = 0;
    void Attach(TextGrid& g) {
        g.SetListener(
            {[this] { ++aboutToReset; }, [this] { ++reset; }, [this](int, int) { ++cellChanged; }});
    }
};

} // namespace

TEST(FormatTenths, TableOfTexts) {
    struct Case {
        int value;
        const char* withSentinel;
        const char* plain;
    };
    const Case cases[] = {
        {215, "21,5", "21,5"},
        {0, "0,0", "0,0"},
        {9, "0,9", "0,9"},
        {-1, "-0,1", "-0,1"},
        {-5, "-0,5", "-0,5"},
        {-9, "-0,9", "-0,9"},
        {-10, "-1,0", "-1,0"},
        {10, "1,0", "1,0"},
        {-215, "-21,5", "-21,5"},
        {32767, "3276,7", "3276,7"},
        {-32768, "-3276,8", "-3276,8"},
        {-3000, "???,?", "-300,0"},
        {3000, "300,0", "300,0"},
        {-2999, "-299,9", "-299,9"},
        {-3001, "-300,1", "-300,1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatTenths(c.value), QString::fromLatin1(c.withSentinel)) << c.value;
        EXPECT_EQ(FormatTenthsPlain(c.value), QString::fromLatin1(c.plain)) << c.value;
    }
}

TEST(FormatTenths, EverySixteenBitValueIsTheExactDecimal) {
    // Oracle: printf rounding of value / 10.0 is exact to one decimal for this range.
    for (int v = -32768; v <= 32767; ++v) {
        QString expected = QString::asprintf("%.1f", v / 10.0);
        expected.replace(QLatin1Char('.'), QLatin1Char(','));
        if (v == -3000)
            continue;
        ASSERT_EQ(FormatTenths(v), expected) << v;
        ASSERT_EQ(FormatTenthsPlain(v), expected) << v;
    }
}

TEST(FillDataRow, ValidRecordFillsAllFourteenCells) {
    Record r;
    r.tenths = {215, 0, 9, -1, -5, -215, 32767, -32768, 1234};
    r.air = -45;
    r.relay = 7;
    TextGrid g(DataGridColumns, 10);
    FillDataRow(g, 3, Encode(r).data());
    EXPECT_EQ(RowTexts(g, 3),
              (QStringList{"3", "15.03.10", "08:30:45", "21,5", "0,0", "0,9", "-0,1", "-0,5",
                           "-21,5", "3276,7", "-3276,8", "123,4", "-45", "7"}));
}

TEST(FillDataRow, UnsignedRelaySignedAirAndRawBcd) {
    Record r;
    r.relay = 0xFF;
    r.air = static_cast<std::int16_t>(0xFFFF); // bytes FF FF
    r.day = r.month = r.year = 0xFF;           // not BCD: shown as hex digits
    r.hour = 0xAB;
    r.min = 0x0C;
    r.sec = 0x9F;
    TextGrid g(DataGridColumns, 3);
    FillDataRow(g, 1, Encode(r).data());
    EXPECT_EQ(g.Cell(1, 1), "FF.FF.FF");
    EXPECT_EQ(g.Cell(2, 1), "AB:0C:9F");
    EXPECT_EQ(g.Cell(12, 1), "-1");
    EXPECT_EQ(g.Cell(13, 1), "255");

    r.air = -32768;
    FillDataRow(g, 2, Encode(r).data());
    EXPECT_EQ(g.Cell(12, 2), "-32768");
}

TEST(FillDataRow, WrongMarkerEmptiesTheWholeRowIncludingColumnZero) {
    for (std::uint32_t marker : {0xFFFFFFFFu, 0x01001233u, 0x00000000u, 0x00001234u, 0x33120000u}) {
        TextGrid g(DataGridColumns, 3);
        FillWith(g, "old");
        Record r;
        r.marker = marker;
        FillDataRow(g, 1, Encode(r).data());
        EXPECT_TRUE(RowEmpty(g, 1)) << std::hex << marker;
        EXPECT_EQ(g.Cell(0, 2), "old"); // neighbours untouched
    }
}

TEST(FillDataRow, SentinelShowsQuestionMarksInEveryTenthsColumnButNotInAir) {
    for (int col = 0; col < 9; ++col) {
        Record r;
        r.tenths.fill(100);
        r.tenths[col] = -3000;
        r.air = -3000;
        TextGrid g(DataGridColumns, 2);
        FillDataRow(g, 1, Encode(r).data());
        for (int c = 0; c < 9; ++c)
            EXPECT_EQ(g.Cell(3 + c, 1), c == col ? "???,?" : "10,0") << col << " " << c;
        EXPECT_EQ(g.Cell(12, 1), "-3000");
    }
}

TEST(FillSettingsRow, ValidBlockFillsAllSixteenCells) {
    Settings s;
    s.mode = 0x80;
    s.type = 0xFF;
    s.k1 = 15;
    s.k2 = -7;
    s.tStart = 650;
    s.tEnd = -32768;
    s.ints = {-1, 32767, -32768, 0, 12, -300};
    s.protect = 32767;
    TextGrid g(SettingsGridColumns, 5);
    FillSettingsRow(g, 4, Encode(s).data());
    EXPECT_EQ(RowTexts(g, 4),
              (QStringList{"4", "31.12.99", "23:15:00", "128", "255", "1,5", "-0,7", "65,0",
                           "-3276,8", "-1", "32767", "-32768", "0", "12", "-300", "3276,7"}));
}

TEST(FillSettingsRow, SentinelOnlyInTheTwoTemperatureColumns) {
    Settings s;
    s.k1 = s.k2 = s.tStart = s.tEnd = s.protect = -3000;
    s.ints.fill(-3000);
    TextGrid g(SettingsGridColumns, 2);
    FillSettingsRow(g, 1, Encode(s).data());
    EXPECT_EQ(g.Cell(5, 1), "-300,0");
    EXPECT_EQ(g.Cell(6, 1), "-300,0");
    EXPECT_EQ(g.Cell(7, 1), "???,?");
    EXPECT_EQ(g.Cell(8, 1), "???,?");
    for (int c = 9; c <= 14; ++c)
        EXPECT_EQ(g.Cell(c, 1), "-3000") << c;
    EXPECT_EQ(g.Cell(15, 1), "-300,0");
}

TEST(FillSettingsRow, AnyOtherLastByteEmptiesTheRow) {
    for (int marker : {0x00, 0x50, 0x52, 0x71, 0xD1, 0xFF}) {
        TextGrid g(SettingsGridColumns, 5);
        FillWith(g, "old");
        Settings s;
        s.marker = static_cast<std::uint8_t>(marker);
        FillSettingsRow(g, 2, Encode(s).data());
        EXPECT_TRUE(RowEmpty(g, 2)) << marker;
        EXPECT_EQ(g.Cell(0, 1), "old");
    }
}

TEST(DecodeArchive, TwoChannelsSplitAt0x21000) {
    QByteArray image = ErasedImage();
    Record first;
    first.relay = 1;
    Record last;
    last.relay = 2;
    Record ch2first;
    ch2first.relay = 3;
    Record ch2last;
    ch2last.relay = 4;
    Place(image, 0x00000, Encode(first));
    Place(image, 0x20F60, Encode(last));
    Place(image, 0x21000, Encode(ch2first));
    Place(image, 0x41F60, Encode(ch2last));
    Settings s1, s4, t1, t4;
    s1.mode = 11;
    s4.mode = 14;
    t1.mode = 21;
    t4.mode = 24;
    Place(image, 0x20F80, Encode(s1));
    Place(image, 0x20FE0, Encode(s4));
    Place(image, 0x41F80, Encode(t1));
    Place(image, 0x41FE0, Encode(t4));

    Grids g;
    DecodeArchive(image, 2, 4220, g.All());

    EXPECT_EQ(g.g1.RowCount(), 4221);
    EXPECT_EQ(g.g3.RowCount(), 4221);
    EXPECT_EQ(g.g1.Cell(13, 1), "1");
    EXPECT_EQ(g.g1.Cell(13, 4220), "2");
    EXPECT_EQ(g.g1.Cell(0, 4220), "4220");
    EXPECT_EQ(g.g3.Cell(13, 1), "3");
    EXPECT_EQ(g.g3.Cell(0, 1), "1");
    EXPECT_EQ(g.g3.Cell(13, 4220), "4");
    for (int r = 2; r < 4220; ++r) {
        ASSERT_TRUE(RowEmpty(g.g1, r)) << r;
        ASSERT_TRUE(RowEmpty(g.g3, r)) << r;
    }
    EXPECT_EQ(g.g2.Cell(3, 1), "11");
    EXPECT_TRUE(RowEmpty(g.g2, 2));
    EXPECT_TRUE(RowEmpty(g.g2, 3));
    EXPECT_EQ(g.g2.Cell(3, 4), "14");
    EXPECT_EQ(g.g4.Cell(3, 1), "21");
    EXPECT_EQ(g.g4.Cell(3, 4), "24");
    EXPECT_EQ(g.g2.RowCount(), 5);
}

TEST(DecodeArchive, OneChannelUsesTheWholeFlashAndLeavesChannelTwoAlone) {
    QByteArray image = ErasedImage();
    Record last;
    last.relay = 99;
    Place(image, 0x41F60, Encode(last));
    Record middle; // lies where channel 2 would start with two channels
    middle.relay = 42;
    Place(image, 0x21000, Encode(middle));
    Settings s;
    s.mode = 5;
    Place(image, 0x41F80, Encode(s));

    Grids g;
    FillWith(g.g3, "keep");
    FillWith(g.g4, "keep");
    Notices n3, n4;
    n3.Attach(g.g3);
    n4.Attach(g.g4);
    DecodeArchive(image, 1, 8444, g.All());

    EXPECT_EQ(g.g1.RowCount(), 8445);
    EXPECT_EQ(g.g1.Cell(13, 8444), "99");
    EXPECT_EQ(g.g1.Cell(13, 0x21000 / 32 + 1), "42");
    EXPECT_EQ(g.g1.Cell(0, 0x21000 / 32 + 1), QString::number(0x21000 / 32 + 1));
    EXPECT_EQ(g.g2.Cell(3, 1), "5");
    EXPECT_EQ(g.g3.RowCount(), 4220);
    EXPECT_EQ(g.g3.Cell(5, 4219), "keep");
    EXPECT_EQ(g.g4.Cell(15, 4), "keep");
    EXPECT_EQ(n3.aboutToReset + n3.reset + n3.cellChanged, 0);
    EXPECT_EQ(n4.aboutToReset + n4.reset + n4.cellChanged, 0);
}

TEST(DecodeArchive, ErasedRecordsStayBlankAndRowsAreNotRenumbered) {
    QByteArray image = ErasedImage();
    Record r;
    Place(image, 0 * 32, Encode(r));
    r.marker = 0x01001233; // 33 12 00 01
    Place(image, 1 * 32, Encode(r));
    r.marker = 0x1233;
    Place(image, 3 * 32, Encode(r));

    Grids g;
    FillWith(g.g1, "stale"); // an earlier download's texts must not survive in blank rows
    DecodeArchive(image, 2, 4220, g.All());
    EXPECT_EQ(g.g1.Cell(0, 1), "1");
    EXPECT_TRUE(RowEmpty(g.g1, 2));
    EXPECT_TRUE(RowEmpty(g.g1, 3));
    EXPECT_EQ(g.g1.Cell(0, 4), "4");
    EXPECT_TRUE(RowEmpty(g.g1, 5));
    EXPECT_EQ(g.g1.Cell(0, 0), "stale"); // the heading row is not the decoder's
}

TEST(DecodeArchive, DataGridIsResizedToTheRecordCount) {
    Grids g;
    g.g1.SetRowCount(8445);
    FillWith(g.g1, "x");
    DecodeArchive(FullImage(2), 2, 4220, g.All());
    EXPECT_EQ(g.g1.RowCount(), 4221);
    EXPECT_EQ(g.g1.Cell(0, 0), "x");
}

TEST(DecodeArchive, OneResetPerGridAndNoNoticePerCell) {
    Grids g;
    Notices n[4];
    const auto all = g.All();
    for (int i = 0; i < 4; ++i)
        n[i].Attach(*all[i]);
    DecodeArchive(FullImage(2), 2, 4220, all);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(n[i].aboutToReset, 1) << i;
        EXPECT_EQ(n[i].reset, 1) << i;
        EXPECT_EQ(n[i].cellChanged, 0) << i;
    }
}

TEST(DecodeArchive, FullImageMatchesRowByRowDecoding) {
    for (int channels : {1, 2}) {
        const QByteArray image = FullImage(channels);
        const ArchiveGeometry geo = GeometryFor(channels);
        Grids g;
        DecodeArchive(image, channels, geo.recordCount, g.All());
        TextGrid* data[2] = {&g.g1, &g.g3};
        TextGrid* settings[2] = {&g.g2, &g.g4};
        for (int ch = 0; ch < channels; ++ch) {
            TextGrid expected(DataGridColumns, geo.recordCount + 1);
            for (int i = 0; i < geo.recordCount; ++i) {
                const Bytes32 b = Encode(SampleRecord(i + ch * 10000));
                if (i % 97 != 50)
                    FillDataRow(expected, i + 1, b.data());
            }
            for (int r = 1; r <= geo.recordCount; ++r)
                ASSERT_EQ(RowTexts(*data[ch], r), RowTexts(expected, r)) << channels << " " << r;
            EXPECT_EQ(settings[ch]->Cell(3, 1), QString::number(ch * 4));
            EXPECT_TRUE(RowEmpty(*settings[ch], 3));
            EXPECT_EQ(settings[ch]->Cell(0, 4), "4");
        }
    }
}

TEST(DecodeArchive, ShortImageGivesBlankRowsAndNeverReadsPastItsEnd) {
    const QByteArray full = FullImage(2);
    // Exactly sized buffers, so that a read past the end is caught by the address sanitizer.
    for (int size : {0, 31, 32, 0x20F80 + 40, 0x21000 + 32 + 8, 0x42000 - 1}) {
        std::vector<char> bytes(full.constData(), full.constData() + size);
        const QByteArray image = QByteArray::fromRawData(bytes.data(), size);
        Grids g;
        FillWith(g.g1, "stale");
        FillWith(g.g2, "stale");
        FillWith(g.g3, "stale");
        FillWith(g.g4, "stale");
        DecodeArchive(image, 2, 4220, g.All());

        const int whole = size / 32; // records and blocks that can be read whole
        auto readable = [&](int index) { return index < whole; };
        for (int r = 1; r <= 4220; ++r) {
            ASSERT_EQ(!RowEmpty(g.g1, r), readable(r - 1) && (r - 1) % 97 != 50)
                << size << " " << r;
            ASSERT_EQ(!RowEmpty(g.g3, r), readable(4224 + r - 1) && (r - 1) % 97 != 50)
                << size << " " << r;
        }
        for (int j = 1; j <= 4; ++j) {
            EXPECT_EQ(!RowEmpty(g.g2, j), readable(4220 + j - 1) && j != 3) << size << " " << j;
            EXPECT_EQ(!RowEmpty(g.g4, j), readable(4224 + 4220 + j - 1) && j != 3)
                << size << " " << j;
        }
    }
}

TEST(DecodeArchive, NoChannelTouchesNothing) {
    Grids g;
    FillWith(g.g1, "keep");
    DecodeArchive(FullImage(2), 0, 0, g.All());
    EXPECT_EQ(g.g1.RowCount(), 4220);
    EXPECT_EQ(g.g1.Cell(3, 17), "keep");
}

TEST(ArchiveGeometry, OneTwoAndNoChannels) {
    const ArchiveGeometry one = GeometryFor(1);
    EXPECT_EQ(one.channelBlockSize, 0x42000);
    EXPECT_EQ(one.recordAreaSize, 0x41F80);
    EXPECT_EQ(one.recordCount, 8444);
    const ArchiveGeometry two = GeometryFor(2);
    EXPECT_EQ(two.channelBlockSize, 0x21000);
    EXPECT_EQ(two.recordAreaSize, 0x20F80);
    EXPECT_EQ(two.recordCount, 4220);
    const ArchiveGeometry none = GeometryFor(0);
    EXPECT_EQ(none.channelBlockSize + none.recordAreaSize + none.recordCount, 0);
}
