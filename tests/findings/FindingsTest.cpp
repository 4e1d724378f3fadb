// The findings against two-channel images built record by record: one case per kind of finding
// with the fault laid into otherwise healthy records, and the healthy image alone.

#include "Findings.h"
#include "FindingsTsv.h"

#include "ArchiveImageBuilder.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace testimage;

namespace {

constexpr int kChannelBlock = 0x21000;
constexpr int kRecordsUsed = 200; // 100 hours at one record every 30 minutes
const QDateTime kStart(QDate(2024, 1, 10), QTime(0, 0), Qt::UTC);

QDateTime RecordTime(int i) {
    return kStart.addSecs(1800LL * i);
}

// A healthy record: every measured temperature moves, supply follows its curve, return below.
Record Healthy(int i, int channel) {
    Record r;
    const QDateTime t = RecordTime(i);
    r.sec = 0, r.min = Bcd(t.time().minute()), r.hour = Bcd(t.time().hour());
    r.day = Bcd(t.date().day()), r.month = Bcd(t.date().month()),
    r.year = Bcd(t.date().year() % 100);
    const int wobble = (i * 7) % 11 - 5; // tenths
    const int outdoor = -50 + (i % 48 < 24 ? i % 24 : 24 - i % 24) * 4 + channel;
    const int curve = 550 - outdoor;
    r.tenths = {static_cast<std::int16_t>(curve + wobble * 3),   // supply
                static_cast<std::int16_t>(curve - 150 + wobble), // return
                static_cast<std::int16_t>(210 + wobble),         // room 1
                static_cast<std::int16_t>(205 - wobble),         // room 2
                static_cast<std::int16_t>(207 + wobble / 2),     // room
                static_cast<std::int16_t>(outdoor),              // outdoor
                static_cast<std::int16_t>(curve),                // curve
                200,                                             // room set point
                static_cast<std::int16_t>(curve + 10)};          // required
    r.air = static_cast<std::int16_t>(wobble * 10);
    r.relay = static_cast<std::uint8_t>(1 | (i / 5 % 2 ? 2 : 4)); // the pump runs, the valve moves
    return r;
}

using Mutation = std::function<void(int channel, int i, Record& r, bool& keep)>;

QByteArray Build(const Mutation& mutate) {
    QByteArray image = ErasedImage();
    for (int ch = 1; ch <= 2; ++ch) {
        const int base = (ch - 1) * kChannelBlock;
        for (int i = 0; i < kRecordsUsed; ++i) {
            Record r = Healthy(i, ch);
            bool keep = true;
            if (mutate)
                mutate(ch, i, r, keep);
            if (keep)
                Place(image, base + 32 * i, Encode(r));
        }
        for (int b = 0; b < 4; ++b)
            Place(image, base + kChannelBlock - 128 + 32 * b, Encode(SampleSettings(b + ch)));
    }
    return image;
}

const QStringList kSettingsHeadings = {
    "№",        "Дата",   "Время", "Режим",  "Тип рег.", "Кнак.1", "Кнак.2", "Тнач.от.",
    "Тизл.от.", "Ккорр.", "tц.",   "tпост.", "Кп",       "Ки",     "Кд",     "Защ.инт."};

struct Case {
    const char* name;
    Mutation mutate;
    std::optional<FindingKind> kind; // nothing: the image is healthy
    int channel = 0;
    QString sensor;
    int fromRecord = 0, toRecord = 0; // the span laid in, as record numbers
    QString detailHolds;              // a part of the sentence
    bool previousWithOtherSettings = false;
    int downloadAtRecord = 0; // 0: long after the last record
};

const Case kCases[] = {
    {"healthy", nullptr, std::nullopt, 0, "", 0, 0, "", false, 0},
    {"sensor-missing",
     [](int ch, int i, Record& r, bool&) {
         if (ch == 1 && i >= 50 && i <= 55)
             r.tenths[3] = -3000;
     },
     FindingKind::SensorMissing, 1, "Тп2", 50, 55, "не отвечал (???,?) с 11.01.2024 01:00", false,
     0},
    {"sensor-stuck",
     [](int ch, int i, Record& r, bool&) {
         if (ch == 2 && i >= 40 && i <= 100)
             r.tenths[2] = 215;
     },
     FindingKind::SensorStuck, 2, "Тп1", 40, 100, "одно и то же значение 21,5 °C", false, 0},
    {"return-above-supply",
     [](int ch, int i, Record& r, bool&) {
         if (ch == 1 && i >= 80 && i <= 89)
             r.tenths[1] = static_cast<std::int16_t>(r.tenths[0] + 30);
     },
     FindingKind::ReturnAboveSupply, 1, "Тобр", 80, 89, "до 3,0 °C", false, 0},
    {"off-curve",
     [](int ch, int i, Record& r, bool&) {
         if (ch == 2 && i >= 120 && i <= 130)
             r.tenths[0] = static_cast<std::int16_t>(r.tenths[6] - 150);
     },
     FindingKind::OffCurve, 2, "Тпод", 120, 130, "ниже графика", false, 0},
    {"log-gap",
     [](int ch, int i, Record&, bool& keep) {
         if (ch == 1 && i >= 100 && i <= 110)
             keep = false;
     },
     FindingKind::LogGap, 1, "", 100, 110, "около 11 записей", false, 0},
    {"clock-set-back",
     [](int ch, int i, Record& r, bool&) {
         if (ch == 2 && i >= 150) { // ten hours back from record 150 on
             const QDateTime t = RecordTime(i).addSecs(-36000);
             r.min = Bcd(t.time().minute()), r.hour = Bcd(t.time().hour());
             r.day = Bcd(t.date().day());
         }
     },
     FindingKind::ClockJump, 2, "", 130, 149, "назад на 9 ч 30 мин", false, 0},
    {"clock-ahead-of-download", // the download at record 185; channel 2 stops logging before
     [](int ch, int i, Record&, bool& keep) { keep = ch == 1 || i < 185; }, FindingKind::ClockJump,
     1, "", 190, 199, "позже снятия архива", false, 185},
    {"relay-cycling",
     [](int ch, int i, Record& r, bool&) {
         if (ch == 1 && i >= 20 && i <= 90)
             r.relay = static_cast<std::uint8_t>((r.relay & ~1) | (i % 2));
     },
     FindingKind::RelayCycling, 1, "Р1", 20, 90, "почти в каждой записи", false, 0},
    {"settings-changed", nullptr, FindingKind::SettingsChanged, 1, "Кп", 0, 0,
     "Блок настроек 2 изменён с прошлого посещения: Кп", true, 0},
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class FindingsCase : public testing::TestWithParam<Case> {};

TEST_P(FindingsCase, FindsTheFaultLaidInOnceWithItsChannelSensorAndSpan) {
    const Case& c = GetParam();
    FindingsInput input;
    input.image = Build(c.mutate);
    input.channelCount = 2;
    input.settingsHeadings = kSettingsHeadings;
    // The download's wall time where the program ran is what the records are compared with.
    const QDateTime downloadWall = RecordTime(c.downloadAtRecord ? c.downloadAtRecord : 1200);
    input.downloadedAt =
        QDateTime(downloadWall.date(), downloadWall.time(), Qt::OffsetFromUTC, 3 * 3600);
    input.previousImage = Build(nullptr);
    if (c.previousWithOtherSettings) {
        Settings s = SampleSettings(1 + 1);
        s.ints[3] = static_cast<std::int16_t>(s.ints[3] + 15); // "Кп" of block 2, channel 1
        Place(input.previousImage, kChannelBlock - 128 + 32 * 1, Encode(s));
        input.previousDownloadedAt = RecordTime(-100);
    }

    const FindingsResult result = FindFindings(input);
    ASSERT_EQ(result.notJudged, QString());
    const std::vector<Finding>& found = result.findings;
    if (!c.kind) {
        EXPECT_TRUE(found.empty()) << FindingsTsv(found).toStdString();
        return;
    }
    ASSERT_EQ(found.size(), 1u) << FindingsTsv(found).toStdString();
    const Finding& f = found.front();
    EXPECT_EQ(f.kind, *c.kind);
    EXPECT_EQ(f.channel, c.channel);
    EXPECT_EQ(f.sensor, c.sensor);
    if (c.kind != FindingKind::SettingsChanged) {
        EXPECT_LE(f.from, RecordTime(c.toRecord).toSecsSinceEpoch());
        EXPECT_GE(f.to, RecordTime(c.fromRecord).toSecsSinceEpoch());
    } else {
        EXPECT_EQ(f.from, RecordTime(-100).toSecsSinceEpoch());
    }
    EXPECT_TRUE(f.detail.contains(c.detailHolds)) << f.detail.toStdString();
    // One line of six fields per finding, under the header.
    const QStringList lines = FindingsTsv(found).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "channel\tkind\tfrom\tto\tsensor\tdetail");
    EXPECT_EQ(lines[1].split(u'\t').size(), 6);
    EXPECT_TRUE(lines[1].startsWith(QString::number(c.channel) + u'\t' + FindingKindId(*c.kind) +
                                    u'\t' + FindingTimeText(f.from)));
}

// An archive the rules cannot place (a channel count other than 1 or 2) is not judged, and says
// why, rather than passing for a clean one; even its faults would be read from the wrong bytes.
TEST(Findings, AChannelCountTheRulesDoNotKnowIsNotJudgedAndSaysWhy) {
    FindingsInput input;
    input.image =
        Build([](int ch, int i, Record&, bool& keep) { keep = ch == 2 || i < 100 || i > 110; });
    input.settingsHeadings = kSettingsHeadings;
    for (int channels : {0, 3, -1}) {
        input.channelCount = channels;
        const FindingsResult result = FindFindings(input);
        EXPECT_TRUE(result.findings.empty());
        EXPECT_TRUE(result.notJudged.contains(channels == 0 ? QStringLiteral("не известно")
                                                            : QString::number(channels)))
            << result.notJudged.toStdString();
        EXPECT_TRUE(result.notJudged.contains(QStringLiteral("одним или двумя")));
    }
    // Series that are not one per channel are not judged either.
    input.channelCount = 2;
    const FindingsResult mismatched = FindFindings(input, ExtractChartSeries(input.image, 1));
    EXPECT_TRUE(mismatched.findings.empty());
    EXPECT_FALSE(mismatched.notJudged.isEmpty());
    // The same image with its own count is judged: the gap laid into channel 1 is found.
    const FindingsResult judged = FindFindings(input);
    EXPECT_EQ(judged.notJudged, QString());
    ASSERT_EQ(judged.findings.size(), 1u) << FindingsTsv(judged.findings).toStdString();
    EXPECT_EQ(judged.findings[0].kind, FindingKind::LogGap);
}

INSTANTIATE_TEST_SUITE_P(EachKind, FindingsCase, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (ch == '-')
                                     ch = '_';
                             return name;
                         });

} // namespace
