#include "ChartWindow.h"
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
