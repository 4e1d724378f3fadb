// The findings in the chart window: listed beside the charts, marked as spans on the channel's
// time axis, and a click in the list shows that channel zoomed to the finding.

#include "ChannelChart.h"
#include "ChartWindow.h"
#include "SimArchive.h"
#include "SimPlantedFaults.h"

#include <qcustomplot.h>

#include <QListWidget>
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
    window.ShowArchive(archive, {}, {});
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

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
}
