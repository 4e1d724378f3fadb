// The chart window offscreen: every valid record drawn and led back to its row, the chart saved,
// and a comparison with the controller's previous file (another controller's refused) on real
// archive files.

#include "ChartWindow.h"
#include "ArchiveFile.h"
#include "ArchiveImageBuilder.h"
#include "ChannelChart.h"

#include <qcustomplot.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

using namespace testimage;

TEST(ChartWindow, DrawsEveryValidRecordWithoutImpossibleValuesAndLeadsBackToItsRow) {
    QByteArray image = FullImage(2);
    Record missing = SampleRecord(10);
    missing.tenths[0] = -3000; // channel 1's supply sensor is missing in record 11
    Place(image, 32 * 10, Encode(missing));
    ChartWindow window({});
    ArchiveFileContents archive;
    archive.image = image;
    archive.channelCount = 2;
    archive.identification = QStringLiteral("Лорк КB-9000Л-2К вер. 1.07");
    archive.serial = 12345;
    window.ShowArchive(archive, {}, {});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    EXPECT_TRUE(window.windowTitle().contains(QStringLiteral("серийный номер 12345")));
    ASSERT_EQ(window.ChannelTabCount(), 2);
    int validRecords = 0;
    for (int i = 0; i < 4220; ++i)
        validRecords += i % 97 != 50;
    for (int ch = 0; ch < 2; ++ch) {
        QCustomPlot* plot = window.Channel(ch)->TimePlot();
        QStringList shown;
        int supplyPoints = -1;
        for (QCustomPlot* p : {plot, window.Channel(ch)->CurvePlot()})
            for (int g = 0; g < p->graphCount(); ++g) {
                QCPGraph* graph = p->graph(g);
                int points = 0;
                for (const QCPGraphData& d : *graph->data()) {
                    EXPECT_FALSE(d.value < -273.0 || d.key < -273.0) << graph->name().toStdString();
                    points += !std::isnan(d.value);
                }
                if (p == plot && graph->visible() && plot->legend->hasItemWithPlottable(graph)) {
                    shown << graph->name();
                    if (graph->name() == QStringLiteral("Тпод"))
                        supplyPoints = points;
                }
            }
        EXPECT_EQ(shown, (QStringList{"Тпод", "Тобр", "Тнар.", "Тграф"}));
        EXPECT_EQ(supplyPoints, validRecords - (ch == 0 ? 1 : 0));
    }

    // A double click on channel 2's earliest point names its row.
    window.findChild<QTabWidget*>()->setCurrentIndex(1);
    QCustomPlot* plot = window.Channel(1)->TimePlot();
    const ChannelSeries& s = window.Series()[1];
    plot->xAxis->setRange(s.time[0] - 5, s.time[0] + 5); // records a second apart
    plot->replot();
    QSignalSpy activated(&window, &ChartWindow::RecordActivated);
    const QPoint at(qRound(plot->xAxis->coordToPixel(s.time[0])), plot->axisRect()->center().y());
    QTest::mouseDClick(plot, Qt::LeftButton, {}, at);
    ASSERT_EQ(activated.size(), 1);
    EXPECT_EQ(activated[0], (QVariantList{2, s.row[0]}));

    QTemporaryDir dir;
    ASSERT_EQ(window.SaveChart(dir.filePath("c.png")), QString());
    EXPECT_FALSE(QImage(dir.filePath("c.png")).isNull());
    ASSERT_EQ(window.SaveChart(dir.filePath("c.pdf")), QString());
    QFile pdf(dir.filePath("c.pdf"));
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.read(5) == "%PDF-");
}

namespace {

// Answers the chart window's dialogs from the test: the file to open, what was offered.
class AnsweredDialogs : public ChartDialogs {
public:
    QString OpenArchive(const QString& proposedPath) override {
        offered = proposedPath;
        return answer;
    }
    QString SaveChart(const QString&) override { return {}; }
    void Warn(const QString& text) override { warnings << text; }

    QString answer;
    QString offered;
    QStringList warnings;
};

} // namespace

TEST(ChartWindow, ComparesWithTheControllersPreviousFileAndRefusesAnotherControllers) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ArchiveFileContents archive;
    archive.channelCount = 2;
    archive.serial = 12345;
    archive.image = FullImage(2);
    const QString earlier = dir.filePath("12345/2024-01-31_08-15-00.kvarc");
    const QString shown = dir.filePath("12345/2024-03-01_10-00-00.kvarc");
    ASSERT_EQ(WriteArchiveFile(earlier, archive), QString());
    ASSERT_EQ(WriteArchiveFile(shown, archive), QString());
    ArchiveFileContents other = archive;
    other.serial = 777;
    const QString others = dir.filePath("777/2024-02-01_00-00-00.kvarc");
    ASSERT_EQ(WriteArchiveFile(others, other), QString());

    auto dialogs = std::make_shared<AnsweredDialogs>();
    ChartWindow window({dialogs, {}});
    window.ShowArchive(archive, shown, dir.filePath("12345"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // The previous visit of the controller is offered; the one chosen is drawn beside.
    dialogs->answer = earlier;
    window.CompareWithArchive();
    EXPECT_EQ(dialogs->offered, earlier);
    EXPECT_TRUE(dialogs->warnings.isEmpty()) << dialogs->warnings.join('\n').toStdString();
    EXPECT_TRUE(window.SummaryText().contains("2024-01-31_08-15-00.kvarc"));

    // Another controller's file is refused with the reason, and the comparison stays.
    EXPECT_FALSE(window.CompareWith(others));
    ASSERT_EQ(dialogs->warnings.size(), 1);
    EXPECT_TRUE(dialogs->warnings[0].contains("серийный номер 777 вместо 12345"));
    EXPECT_TRUE(window.SummaryText().contains("2024-01-31_08-15-00.kvarc"));
    // A file that is no archive says why it was not opened.
    EXPECT_FALSE(window.CompareWith(dir.filePath("missing.kvarc")));
    ASSERT_EQ(dialogs->warnings.size(), 2);
    EXPECT_TRUE(dialogs->warnings[1].startsWith("Архив " + dir.filePath("missing.kvarc")));

    // Showing another controller's archive drops the comparison of this one.
    window.ShowArchive(other, others, dir.filePath("777"));
    EXPECT_FALSE(window.SummaryText().contains("бледным"));
    EXPECT_TRUE(window.windowTitle().contains("серийный номер 777"));
}
