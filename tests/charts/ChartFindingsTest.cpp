// The findings in the chart window: listed beside the charts, marked as spans on the channel's
// time axis once the charts are painted, and a click in the list shows that channel zoomed to the
// finding; another archive or a merged history takes the findings shown with it; an archive the
// findings cannot judge says so.

#include "ChannelChart.h"
#include "ChartWindow.h"
#include "SimArchive.h"
#include "SimPlantedFaults.h"

#include <qcustomplot.h>

#include <QListWidget>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

TEST(ChartFindings, ListedMarkedOnTheirChannelAndZoomedToOnAClick) {
    QByteArray image = sim::GenerateArchive(2, 21, true);
    sim::PlantedFault gap;
    gap.kind = sim::PlantedKind::LogGap;
    gap.channel = 2;
    gap.start = QDateTime(QDate(2023, 12, 1), QTime(6, 0), Qt::UTC);
    gap.hours = 12;
    sim::PlantFaults(image, 2, {gap});
    ChartWindow window({});
    ArchiveFileContents archive;
    archive.image = image;
    archive.channelCount = 2;
    QSignalSpy listed(&window, &ChartWindow::FindingsListed);
    window.ShowArchive(archive, {}, {});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // The findings follow the charts' first paint.
    ASSERT_TRUE(listed.count() == 1 || listed.wait(5000));

    ASSERT_EQ(window.Findings().size(), 1u);
    const Finding& f = window.Findings()[0];
    EXPECT_EQ(f.kind, FindingKind::LogGap);
    EXPECT_EQ(f.channel, 2);
    auto spans = [&](int channel) {
        int n = 0;
        QCustomPlot* plot = window.Channel(channel)->TimePlot();
        for (int i = 0; i < plot->itemCount(); ++i)
            n += plot->item(i)->objectName() == QStringLiteral("finding-span");
        return n;
    };
    EXPECT_EQ(spans(0), 0);
    EXPECT_EQ(spans(1), 1);

    auto* list = window.findChild<QListWidget*>();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 1);
    EXPECT_TRUE(list->item(0)->text().startsWith(QStringLiteral("Канал 2, Пропуск в журнале")));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(0)).center());
    EXPECT_EQ(window.findChild<QTabWidget*>()->currentIndex(), 1);
    const QCPRange shown = window.Channel(1)->TimePlot()->xAxis->range();
    EXPECT_LE(shown.lower, static_cast<double>(f.from));
    EXPECT_GE(shown.upper, static_cast<double>(f.to));
    EXPECT_LT(shown.size(), 3 * 86400.0) << "zoomed in from the whole archive";

    // Another archive shown in the open window replaces the findings, their list and spans.
    archive.image = sim::GenerateArchive(2, 21, true);
    window.ShowArchive(archive, {}, {});
    ASSERT_TRUE(listed.wait(5000));
    EXPECT_TRUE(window.Findings().empty());
    EXPECT_EQ(spans(1), 0);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("Находок нет"));

    // A merged history has no findings of its own: none of the archive's stay beside it.
    sim::PlantFaults(archive.image, 2, {gap});
    window.ShowArchive(archive, {}, {});
    ASSERT_TRUE(listed.wait(5000));
    ASSERT_EQ(spans(1), 1);
    window.ShowHistory(archive, ExtractChartSeries(archive.image, 2));
    QTest::qWait(50);
    EXPECT_TRUE(window.Findings().empty());
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(spans(1), 0);

    // An archive the findings cannot judge says so and why, never "Находок нет".
    archive.channelCount = 3;
    const int before = static_cast<int>(listed.count());
    window.ShowArchive(archive, {}, {});
    ASSERT_TRUE(listed.count() > before || listed.wait(5000));
    ASSERT_EQ(list->count(), 1);
    EXPECT_TRUE(list->item(0)->text().startsWith(
        QStringLiteral("Архив не проверен на находки: число каналов 3")))
        << list->item(0)->text().toStdString();
}
