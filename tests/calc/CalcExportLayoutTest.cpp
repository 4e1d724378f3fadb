// The Calc export's layout, against a stand-in that records every call instead of driving the
// office. Progress steps are recorded in the same log, so their place among the cells shows.

#include "CalcExport.h"
#include "TextGrid.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QStringList>

#include <ostream>

// Readable failure messages for texts.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

using ::testing::ElementsAreArray;

struct Log {
    QStringList calls;
    bool connects = true;
    int failAtCell = -1; // the SetCellText call (counted from 0) that throws
    int cells = 0;
    int objects = 0;
};

class RecordingCalc final : public CalcAutomation {
public:
    explicit RecordingCalc(Log& log) : log_(log) { ++log_.objects; }
    ~RecordingCalc() override { log_.calls << QStringLiteral("destroyed"); }

    bool Connect(const CalcWaitStep&) override {
        log_.calls << QStringLiteral("Connect");
        return log_.connects;
    }
    void NewDocument() override { log_.calls << QStringLiteral("NewDocument"); }
    void SelectSheet(const QString& name, quint16 position) override {
        log_.calls << QStringLiteral("SelectSheet %1 @%2").arg(name).arg(position);
    }
    bool HasSheet(const QString&) override { return false; }
    void ActivateSheet(const QString&) override {}
    void SetCellText(quint32 column, quint32 row, const QString& text) override {
        if (log_.cells++ == log_.failAtCell)
            throw ExportError(QStringLiteral("Документ закрыт"));
        log_.calls << QStringLiteral("%1,%2=%3").arg(column).arg(row).arg(text);
    }
    void ReleaseAll() override { log_.calls << QStringLiteral("ReleaseAll"); }

private:
    Log& log_;
};

struct ExportRun {
    Log log;
    int max = -1;
    int cancelAfterSteps = -1;
    int steps = 0;

    CalcExportResult Export(const ExportSource& source) {
        ExportProgress progress;
        progress.setMax = [this](int m) { max = m; };
        progress.step = [this] {
            ++steps;
            log.calls << QStringLiteral("step");
        };
        progress.processEvents = [this] { log.calls << QStringLiteral("events"); };
        progress.cancelled = [this] { return cancelAfterSteps >= 0 && steps >= cancelAfterSteps; };
        return ExportToCalc(source, progress,
                            [this] { return std::make_unique<RecordingCalc>(log); });
    }
};

const HeadingLines Headings{QStringLiteral("Лорк КB-9000Л вер. 1.07"),
                            QStringLiteral("Серийный номер: 7"),
                            QStringLiteral("Место установки регулятора: ")};

// Small grids: 2 settings columns × 2 rows, 3 data columns × 3 rows with gaps.
struct Channel {
    TextGrid settings{2, 2};
    TextGrid data{3, 3};
    explicit Channel(const QString& p) {
        settings.SetCell(0, 0, p + "s00");
        settings.SetCell(1, 0, p + "s10");
        settings.SetCell(1, 1, p + "s11"); // (0,1) empty
        data.SetCell(0, 0, p + "d00");
        data.SetCell(1, 0, p + "d10");
        data.SetCell(2, 0, p + "d20");
        // row 1 entirely empty (an erased record)
        data.SetCell(0, 2, p + "d02");
        data.SetCell(2, 2, QStringLiteral("21,5"));
    }
};

TEST(CalcExportLayout, OneChannelWritesHeadingsSettingsAndNonEmptyDataRowByRow) {
    const Channel a(QStringLiteral("a"));
    const QStringList expected{
        "Connect",
        "NewDocument",
        "SelectSheet Канал 1 @0",
        "1,1=Лорк КB-9000Л вер. 1.07 - Канал 1",
        "1,2=Серийный номер: 7",
        "1,3=Место установки регулятора: ",
        // settings from row index 4, every cell, the empty one included
        "1,4=as00",
        "2,4=as10",
        "step",
        "events",
        "1,5=",
        "2,5=as11",
        "step",
        "events",
        // data from row index 10, empty cells skipped, the empty row still counted
        "1,10=ad00",
        "2,10=ad10",
        "3,10=ad20",
        "step",
        "events",
        "step",
        "events",
        "1,12=ad02",
        "3,12=21,5",
        "step",
        "events",
        "destroyed",
    };
    // No controller found (0) exports like one channel.
    for (const int channels : {0, 1}) {
        ExportRun run;
        EXPECT_EQ(run.Export({Headings, channels, &a.data, &a.settings, nullptr, nullptr}),
                  CalcExportResult::Written);
        EXPECT_THAT(run.log.calls, ElementsAreArray(expected)) << "channels " << channels;
        EXPECT_EQ(run.max, 2 * (2 + 3));
        EXPECT_EQ(run.log.objects, 1);
    }
}

TEST(CalcExportLayout, SecondChannelGoesToKanal2AtPosition1WithEveryDataCell) {
    const Channel a(QStringLiteral("a"));
    const Channel b(QStringLiteral("b"));
    ExportRun run;
    EXPECT_EQ(run.Export({Headings, 2, &a.data, &a.settings, &b.data, &b.settings}),
              CalcExportResult::Written);

    const qsizetype second = run.log.calls.indexOf("SelectSheet Канал 2 @1");
    ASSERT_GT(second, 0);
    const QStringList channel2 = run.log.calls.mid(second);
    const QStringList expected{
        "SelectSheet Канал 2 @1",
        "1,1=Лорк КB-9000Л вер. 1.07 - Канал 2",
        "1,2=Серийный номер: 7",
        "1,3=Место установки регулятора: ",
        "1,4=bs00",
        "2,4=bs10",
        "step",
        "events",
        "1,5=",
        "2,5=bs11",
        "step",
        "events",
        "1,10=bd00",
        "2,10=bd10",
        "3,10=bd20",
        "step",
        "events",
        "1,11=",
        "2,11=",
        "3,11=",
        "step",
        "events",
        "1,12=bd02",
        "2,12=",
        "3,12=21,5",
        "step",
        "events",
        "destroyed",
    };
    EXPECT_THAT(channel2, ElementsAreArray(expected));
    // Channel 1 was written before, the same way as alone.
    EXPECT_EQ(run.log.calls.indexOf("SelectSheet Канал 1 @0"), 2);
    EXPECT_FALSE(run.log.calls.mid(0, second).contains("1,11="));
    // The maximum counts channel 1 twice; with channels of equal size the bar ends full.
    EXPECT_EQ(run.max, 10);
    EXPECT_EQ(run.steps, 10);
}

TEST(CalcExportLayout, NoConnectionMeansNoDocumentNoProgressAndTheObjectDestroyed) {
    const Channel a(QStringLiteral("a"));
    ExportRun run;
    run.log.connects = false;
    EXPECT_EQ(run.Export({Headings, 2, &a.data, &a.settings, &a.data, &a.settings}),
              CalcExportResult::NotConnected);
    EXPECT_THAT(run.log.calls, ElementsAreArray(QStringList{"Connect", "destroyed"}));
    EXPECT_EQ(run.max, 10);
    EXPECT_EQ(run.steps, 0);
}

TEST(CalcExportLayout, OfficeErrorStopsTheExportAndPassesItsTextOut) {
    const Channel a(QStringLiteral("a"));
    ExportRun run;
    run.log.failAtCell = 5; // the second settings row's first cell
    try {
        run.Export({Headings, 2, &a.data, &a.settings, &a.data, &a.settings});
        FAIL() << "the error was swallowed";
    } catch (const ExportError& e) {
        EXPECT_EQ(e.Text(), QStringLiteral("Документ закрыт"));
    }
    // Cells before the error were written, nothing after it; the object is gone.
    EXPECT_EQ(run.log.calls.mid(run.log.calls.size() - 4),
              (QStringList{"2,4=as10", "step", "events", "destroyed"}));
    EXPECT_EQ(run.log.cells, 6);
}

TEST(CalcExportLayout, ClosingTheWindowStopsBeforeTheNextRow) {
    const Channel a(QStringLiteral("a"));
    for (const int stopAfter : {0, 3, 5}) {
        ExportRun run;
        run.cancelAfterSteps = stopAfter;
        EXPECT_EQ(run.Export({Headings, 2, &a.data, &a.settings, &a.data, &a.settings}),
                  CalcExportResult::Cancelled);
        EXPECT_EQ(run.steps, stopAfter);
        EXPECT_EQ(run.log.calls.back(), "destroyed");
        // Nothing is written after the last step (or, stopped at once, after the new document;
        // stopped after channel 1, not even channel 2's sheet is selected).
        const qsizetype lastRow = run.log.calls.lastIndexOf("events");
        const qsizetype from = lastRow >= 0 ? lastRow : run.log.calls.indexOf("NewDocument");
        EXPECT_EQ(run.log.calls.mid(from + 1), QStringList{"destroyed"}) << "stop " << stopAfter;
    }
}

} // namespace
