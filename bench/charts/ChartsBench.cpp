// Prints what the charts cost with full archives (every record valid, a season logged every
// 30 minutes, the ring's write position in the middle):
//   extract - the series of a full one-channel archive from its image;
//   open    - the chart window from the menu action to its first paint, one-channel archive, and
//             on to its findings listed beside the chart and marked on it (they follow the
//             first paint);
//   pan     - one redraw while dragging the time axis with the mouse (moved, replotted and
//             painted), every series shown, for each channel of a full two-channel archive.
// Run offscreen (QT_QPA_PLATFORM=offscreen) or under Xvfb.
//
//   bench_charts [runs]

#include "ArchiveGeometry.h"
#include "ArchiveImageBuilder.h"
#include "ChannelChart.h"
#include "ChartSeries.h"
#include "ChartWindow.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray SeasonImage(int channels) {
    QByteArray image = testimage::ErasedImage();
    const ArchiveGeometry geo = GeometryFor(channels);
    const int writePos = geo.recordCount / 2;
    for (int ch = 0; ch < channels; ++ch)
        for (int k = 0; k < geo.recordCount; ++k) {
            const int index = (writePos + k) % geo.recordCount; // oldest at the write position
            const int minutes = k * 30;
            testimage::Record r;
            const QDateTime t =
                QDateTime(QDate(2023, 10, 15), QTime(0, 0), Qt::UTC).addSecs(minutes * 60LL);
            r.sec = 0;
            r.min = testimage::Bcd(t.time().minute());
            r.hour = testimage::Bcd(t.time().hour());
            r.day = testimage::Bcd(t.date().day());
            r.month = testimage::Bcd(t.date().month());
            r.year = testimage::Bcd(t.date().year() % 100);
            const double outdoor = -10 * std::sin(k / 2000.0) + 3 * std::sin(k / 7.6);
            for (int f = 0; f < 9; ++f)
                r.tenths[f] =
                    static_cast<std::int16_t>((20 + (20 - outdoor) * (1.4 - f * 0.1)) * 10);
            r.tenths[5] = static_cast<std::int16_t>(outdoor * 10);
            r.air = static_cast<std::int16_t>(k % 240 - 120);
            r.relay = static_cast<std::uint8_t>(1 | (k / 3 % 2 ? 2 : 4) | (k / 40 % 2 ? 8 : 0));
            testimage::Place(image, ch * geo.channelBlockSize + 32 * index, testimage::Encode(r));
        }
    return image;
}

void Report(const char* what, std::vector<double> ms, double target) {
    std::sort(ms.begin(), ms.end());
    std::printf("%s: %zu runs, min %.2f ms, median %.2f ms, max %.2f ms (target <= %.0f ms)\n",
                what, ms.size(), ms.front(), ms[ms.size() / 2], ms.back(), target);
}

double Ms(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

ArchiveFileContents Archive(const QByteArray& image, int channels) {
    ArchiveFileContents archive;
    archive.image = image;
    archive.channelCount = channels;
    return archive;
}

// Notes the first paint of the widget it watches.
class PaintWatch : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        painted = painted || event->type() == QEvent::Paint;
        return false;
    }
};

struct OpenMs {
    double firstPaint = 0;     // the chart drawn
    double findingsListed = 0; // its findings listed beside it and marked on it
};

OpenMs MenuToFirstPaintMs(const QByteArray& image) {
    QElapsedTimer t;
    t.start();
    OpenMs ms;
    ChartWindow window({});
    bool listed = false;
    QObject::connect(&window, &ChartWindow::FindingsListed, [&] { listed = true; });
    window.ShowArchive(Archive(image, 1), {}, {});
    PaintWatch watch;
    window.Channel(0)->TimePlot()->installEventFilter(&watch);
    window.show();
    while (!watch.painted)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ms.firstPaint = Ms(t);
    while (!listed)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    // The list and the spans drawn.
    window.repaint();
    ms.findingsListed = Ms(t);
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

    const QByteArray one = SeasonImage(1);
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const auto series = ExtractChartSeries(one, 1);
        ms.push_back(Ms(t));
        if (series[0].time.size() != static_cast<std::size_t>(GeometryFor(1).recordCount))
            return 1;
    }
    Report("extract, one channel, 8444 records", ms, 5);

    ms.clear();
    std::vector<double> listed;
    for (int i = 0; i < std::min(runs, 10); ++i) {
        const OpenMs open = MenuToFirstPaintMs(one);
        ms.push_back(open.firstPaint);
        listed.push_back(open.findingsListed);
    }
    Report("open, menu to first paint, one channel", ms, 150);
    Report("open, menu to the findings listed and marked, one channel", listed, 150);

    ChartWindow window({});
    window.ShowArchive(Archive(SeasonImage(2), 2), {}, {});
    window.show();
    auto* tabs = window.findChild<QTabWidget*>();
    for (int ch = 0; ch < 2; ++ch) {
        tabs->setCurrentIndex(ch);
        ChannelChart* chart = window.Channel(ch);
        for (int f = 0; f < ChartFieldCount; ++f)
            chart->SetFieldVisible(static_cast<ChartField>(f), true);
        QCustomPlot* plot = chart->TimePlot();
        app.processEvents();
        // A drag as the mouse does it: press, then moves with the button held; each move
        // shifts the time axis and redraws the chart before the next event is handled.
        ms.clear();
        const QPoint start = plot->axisRect()->center();
        auto send = [plot](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
            QMouseEvent event(type, at, plot->mapToGlobal(at), Qt::LeftButton, buttons,
                              Qt::NoModifier);
            QApplication::sendEvent(plot, &event);
        };
        send(QEvent::MouseButtonPress, start, Qt::LeftButton);
        for (int i = 0; i < 50; ++i) {
            QElapsedTimer t;
            t.start();
            send(QEvent::MouseMove, start + QPoint(i % 2 ? 0 : 6, 0), Qt::LeftButton);
            app.processEvents(); // the queued replot and its paint
            ms.push_back(Ms(t));
        }
        send(QEvent::MouseButtonRelease, start, Qt::NoButton);
        char what[80];
        std::snprintf(what, sizeof what, "pan, channel %d of 2, 4220 records, every series",
                      ch + 1);
        Report(what, ms, 16);
    }
    return 0;
}
