// Looks at the chart window as a user would: the simulator's realistic archive, optionally a
// second one to compare with, and saves a picture of the window. Not a test; run by hand:
//   charts_window_shot OUT.png [channels] [week] [compare] [all] [tab2]

#include "ChannelChart.h"
#include "ChartWindow.h"
#include "SimArchive.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QTabWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const int channels = argc > 2 ? std::atoi(argv[2]) : 1;
    ArchiveFileContents archive;
    archive.image = sim::GenerateArchive(channels, 1);
    archive.channelCount = channels;
    archive.identification = QStringLiteral("Лорк КB-9000Л вер. 1.07");
    archive.serial = 12345;
    ArchiveFileContents earlier = archive;
    earlier.image = sim::GenerateArchive(channels, 7);
    ChartWindowOptions options;
    options.readArchive = [&](const QString&) {
        ArchiveFileReadResult read;
        read.contents = earlier;
        return read;
    };
    ChartWindow window(options);
    window.ShowArchive(archive, {}, {});
    window.show();
    for (int i = 3; i < argc; ++i) {
        const QByteArray what(argv[i]);
        if (what == "compare")
            window.CompareWith(QStringLiteral("earlier.kvarc"));
        else if (what == "tab2")
            window.findChild<QTabWidget*>()->setCurrentIndex(1);
    }
    QApplication::processEvents();
    for (int ch = 0; ch < window.ChannelTabCount(); ++ch) {
        ChannelChart* chart = window.Channel(ch);
        for (int i = 3; i < argc; ++i) {
            const QByteArray what(argv[i]);
            if (what == "all")
                for (int f = 0; f < ChartFieldCount; ++f)
                    chart->SetFieldVisible(static_cast<ChartField>(f), true);
            if (what == "week") {
                QCPAxis* t = chart->TimePlot()->xAxis;
                t->setRange(t->range().center(), t->range().center() + 7 * 86400);
                chart->TimePlot()->replot();
            }
        }
    }
    QApplication::processEvents();
    const bool saved = window.grab().save(QString::fromLocal8Bit(argv[1]));
    window.close();
    return saved ? 0 : 1;
}
