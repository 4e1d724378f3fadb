// The fleet list an office writes by hand or exports from a spreadsheet: a list that is not what
// it should be is refused with its first line, a bad controller line is skipped with its number
// and the rest read.

#include "FleetList.h"

#include <gtest/gtest.h>

namespace {

TEST(FleetList, ItReadsEveryKindOfPortAndSkipsBadLinesWithTheirNumbers) {
    const FleetList list =
        ParseFleetList("\xEF\xBB\xBFport\taddress\tname\r\n" // a byte-order mark, CRLF
                       "COM3\t1\t\xD0\x9A\xD0\xBE\xD1\x82\xD0\xB5\xD0\xBB\r\n" // "Котел"
                       "\n"
                       "tcp://10.1.2.3:4001\t 5 \tШкола\n"
                       "rfc2217://[fe80::1]:2217\t127\t\n"
                       "COM0\t1\tx\n"            // line 6: no such port name
                       "tcp://box:70000\t1\tx\n" // 7: port out of range
                       "COM4\t128\tx\n"          // 8: address out of range
                       "COM4\t1\n"               // 9: two fields
                       "COM4 1 x\n"              // 10: spaces, not tabs
                       "ftp://box:21\t1\tx\n");  // 11: another scheme
    EXPECT_EQ(list.refusal, QString());
    ASSERT_EQ(list.entries.size(), 3u);
    EXPECT_EQ(list.entries[0].port, QStringLiteral("COM3"));
    EXPECT_EQ(list.entries[0].name, QStringLiteral("Котел"));
    EXPECT_EQ(list.entries[0].line, 2);
    EXPECT_EQ(list.entries[1].address, 5);
    EXPECT_EQ(list.entries[1].line, 4);
    EXPECT_EQ(list.entries[2].port, QStringLiteral("rfc2217://[fe80::1]:2217"));
    EXPECT_EQ(list.entries[2].address, 127);
    ASSERT_EQ(list.skipped.size(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(list.skipped[i].startsWith(QStringLiteral("строка %1: ").arg(6 + i)))
            << list.skipped[i].toStdString();

    // Written back, it reads the same.
    const FleetList again = ParseFleetList(FormatFleetList(list.entries));
    ASSERT_EQ(again.entries.size(), 3u);
    EXPECT_EQ(again.entries[1].port, list.entries[1].port);
    EXPECT_EQ(again.entries[1].name, list.entries[1].name);
    EXPECT_TRUE(again.skipped.isEmpty());
}

TEST(FleetList, AListThatIsNotTabSeparatedOrHasAnotherHeaderIsRefusedWithItsLine) {
    for (const char* text : {"port,address,name\nCOM3,1,x\n", "port\taddress\n",
                             "port\taddress\tname\tmore\n", "", "COM3\t1\tx\n"}) {
        const FleetList list = ParseFleetList(text);
        EXPECT_TRUE(list.refusal.contains(QStringLiteral("строка 1"))) << text;
        EXPECT_TRUE(list.entries.empty());
    }
    EXPECT_TRUE(ReadFleetList(QStringLiteral("/nonexistent/fleet.tsv"))
                    .refusal.contains(QStringLiteral("/nonexistent/fleet.tsv")));
}

// A list saved in another encoding would give every name as replacement characters: the first
// line that is not UTF-8 refuses it whole, however its bytes are wrong; good UTF-8 of any length
// is read.
TEST(FleetList, ALineThatIsNotUtf8RefusesTheListWithThatLine) {
    const struct {
        const char* bytes;
        int line;
    } cases[] = {
        {"port\taddress\tname\nCOM3\t1\tx\nCOM4\t1\t\xD8\xEA\xEE\xEB\xE0\n", 3}, // Windows-1251
        {"port\taddress\tn\xE0me\nCOM3\t1\tx\n", 1},
        {"port\taddress\tname\nCOM3\t1\t\xC0\xAF\n", 2},         // an overlong "/"
        {"port\taddress\tname\nCOM3\t1\t\xED\xA0\x80\n", 2},     // a surrogate
        {"port\taddress\tname\nCOM3\t1\tx\xBF\r\n", 2},          // a lone continuation byte
        {"port\taddress\tname\nCOM3\t1\tx\n\nCOM4\t1\t\xD0", 4}, // cut inside a character
    };
    for (const auto& c : cases) {
        const FleetList list = ParseFleetList(c.bytes);
        EXPECT_TRUE(list.refusal.contains(QStringLiteral("строка %1 «").arg(c.line)))
            << list.refusal.toStdString();
        EXPECT_TRUE(list.refusal.contains(QStringLiteral("UTF-8"))) << list.refusal.toStdString();
        EXPECT_TRUE(list.entries.empty());
    }
    const FleetList good = ParseFleetList("\xEF\xBB\xBFport\taddress\tname\n"
                                          "COM3\t1\t\xF0\x9F\x94\xA5 \xD0\xA8\xD0\xBA\n");
    EXPECT_EQ(good.refusal, QString());
    ASSERT_EQ(good.entries.size(), 1u);
    EXPECT_EQ(good.entries[0].name, QStringLiteral("🔥 Шк"));
}

} // namespace
