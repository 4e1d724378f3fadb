#include "ChannelChart.h"

#include "OverWhite.h"
#include "RelayBands.h"

#include <qcustomplot.h>

#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPixmap>
#include <QSplitter>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int kLineFields = ChartFieldCount - 1; // every field but "Реле" is a line
constexpr int kPickPixels = 8;                   // how near a double click must be to a point

// One colour per field, in field order; the comparison uses the same ones, pale.
const QColor kFieldColors[kLineFields] = {
    QColor(0xd6, 0x27, 0x28), // supply
    QColor(0x1f, 0x77, 0xb4), // return
    QColor(0x8c, 0x56, 0x4b), // room 1
    QColor(0xe3, 0x77, 0xc2), // room 2
    QColor(0x94, 0x67, 0xbd), // room
    QColor(0x2c, 0xa0, 0x2c), // outdoor
    QColor(0xff, 0x7f, 0x0e), // curve target
    QColor(0x7f, 0x7f, 0x7f), // room set point
    QColor(0xbc, 0xbd, 0x22), // required
    QColor(0x17, 0xbe, 0xcf), // air
};

QColor Pale(QColor c) {
    c.setAlpha(70);
    return c;
}

QString Degrees(double v) {
    // As the grid shows a missing sensor.
    return std::isnan(v) ? QStringLiteral("???,?")
                         : QString::number(v, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(','));
}

QString TimeText(double t) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(t), Qt::UTC)
        .toString(QStringLiteral("dd.MM.yy hh:mm:ss"));
}

// The points of one series as graph data; a NaN point between two points a line must not join.
QVector<QCPGraphData> LineData(const ChannelSeries& s, int field) {
    QVector<QCPGraphData> data;
    data.reserve(static_cast<qsizetype>(s.time.size() + s.breaks.size()));
    auto nextBreak = s.breaks.begin();
    for (std::size_t i = 0; i < s.time.size(); ++i) {
        if (nextBreak != s.breaks.end() && static_cast<std::size_t>(*nextBreak) == i) {
            data.append(
                {(s.time[i - 1] + s.time[i]) / 2, std::numeric_limits<double>::quiet_NaN()});
            ++nextBreak;
        }
        data.append({s.time[i], s.values[field][i]});
    }
    return data;
}

// One relay's band: a bar at height `bit` over every stretch where the relay was on.
QVector<QCPGraphData> BandData(const ChannelSeries& s, int bit) {
    QVector<QCPGraphData> data;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const RelayStretch& on : RelayOnStretches(s, bit)) {
        data.append({on.from, static_cast<double>(bit)});
        data.append({on.to, static_cast<double>(bit)});
        data.append({on.to, nan});
    }
    return data;
}

// A filled disc drawn once into a picture: years of records put tens of thousands of points on
// the heating curve, and copying a picture costs a fraction of drawing a round shape each time.
QCPScatterStyle DiscStyle(const QColor& color, double size) {
    const int side = static_cast<int>(std::ceil(size)) + 3;
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0; // sharp on dense screens
    QPixmap disc(QSize(side, side) * ratio);
    disc.setDevicePixelRatio(ratio);
    disc.fill(Qt::transparent);
    QPainter painter(&disc);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 1)); // as the plot draws its own discs: outline and fill
    painter.setBrush(color);
    painter.drawEllipse(QPointF(side / 2.0, side / 2.0), size / 2, size / 2);
    painter.end();
    QCPScatterStyle style(disc);
    style.setSize(size);
    return style;
}

} // namespace

ChannelChart::ChannelChart(QWidget* parent) : QWidget(parent) {
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    timePlot_ = new QCustomPlot(splitter);
    curvePlot_ = new QCustomPlot(splitter);
    splitter->addWidget(timePlot_);
    splitter->addWidget(curvePlot_);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({900, 300});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);
    BuildTimePlot();
    BuildCurvePlot();
}

bool ChannelChart::ShownAtFirst(ChartField field) {
    return field == ChartField::Outdoor || field == ChartField::Supply ||
           field == ChartField::Return || field == ChartField::Curve;
}

void ChannelChart::BuildTimePlot() {
    QCustomPlot* plot = timePlot_;
    plot->setNoAntialiasingOnDrag(true);
    plot->setPlottingHints(QCP::phCacheLabels | QCP::phFastPolylines | QCP::phImmediateRefresh);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot->setMouseTracking(true);

    QCPAxisRect* main = plot->axisRect();
    auto* relays = new QCPAxisRect(plot);
    plot->plotLayout()->addElement(1, 0, relays);
    // Relay rows are a fixed height under the chart; the chart takes the rest.
    relays->setMinimumSize(0, 9 * kRelayBits + 40);
    relays->setMaximumSize(QWIDGETSIZE_MAX, 9 * kRelayBits + 40);
    auto* margins = new QCPMarginGroup(plot);
    main->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    relays->setMarginGroup(QCP::msLeft | QCP::msRight, margins);

    auto ticker = QSharedPointer<QCPAxisTickerDateTime>::create();
    ticker->setDateTimeSpec(Qt::UTC); // the controller's wall time is carried as UTC
    ticker->setDateTimeFormat(QStringLiteral("dd.MM.yy\nhh:mm"));
    ticker->setTickCount(8);
    QCPAxis* time = main->axis(QCPAxis::atBottom);
    QCPAxis* relayTime = relays->axis(QCPAxis::atBottom);
    time->setTicker(ticker);
    time->setTickLabels(false);
    relayTime->setTicker(ticker);
    connect(time, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), relayTime,
            qOverload<const QCPRange&>(&QCPAxis::setRange));
    connect(relayTime, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), time,
            qOverload<const QCPRange&>(&QCPAxis::setRange));
    for (QCPAxisRect* rect : {main, relays}) {
        // Zoom and drag move the time axis only; the temperatures keep their scale.
        rect->setRangeDrag(Qt::Horizontal);
        rect->setRangeZoom(Qt::Horizontal);
        rect->setRangeDragAxes(rect->axis(QCPAxis::atBottom), nullptr);
        rect->setRangeZoomAxes(rect->axis(QCPAxis::atBottom), nullptr);
    }

    QCPAxis* degrees = main->axis(QCPAxis::atLeft);
    degrees->setLabel(QStringLiteral("°C"));
    QCPAxis* air = main->axis(QCPAxis::atRight);
    air->setLabel(ChartFieldName(ChartField::Air));

    auto relayNames = QSharedPointer<QCPAxisTickerText>::create();
    for (int bit = 0; bit < kRelayBits; ++bit)
        relayNames->addTick(bit, QStringLiteral("Р%1").arg(bit + 1));
    QCPAxis* relayAxis = relays->axis(QCPAxis::atLeft);
    relayAxis->setTicker(relayNames);
    relayAxis->setRange(-0.6, kRelayBits - 0.4);
    relayAxis->setRangeReversed(true); // Р1 on top
    relayAxis->grid()->setVisible(false);
    relayAxis->setLabel(ChartFieldName(ChartField::Relay));

    AddTimeGraphs({time, degrees, air}, {relayTime, relayAxis});
    BuildLegendAndNote(main);

    // A drag with the right button or with Shift marks a stretch to zoom in on; any other drag
    // pans. The rubber band is chosen at each press, before the plot handles it.
    connect(plot, &QCustomPlot::mousePress, this, &ChannelChart::OnPress);
    connect(plot->selectionRect(), &QCPSelectionRect::accepted, this, [this](const QRect& rect) {
        if (rect.width() < 4)
            return;
        QCPAxis* t = timePlot_->xAxis;
        t->setRange(t->pixelToCoord(rect.left()), t->pixelToCoord(rect.right()));
        timePlot_->replot();
    });
    connect(plot, &QCustomPlot::mouseMove, this, &ChannelChart::OnHover);
    connect(plot, &QCustomPlot::mouseDoubleClick, this, &ChannelChart::OnTimeDoubleClick);
}

void ChannelChart::AddTimeGraphs(const std::array<QCPAxis*, 3>& lineAxes,
                                 const std::array<QCPAxis*, 2>& relayAxes) {
    QCustomPlot* plot = timePlot_;
    const auto [time, degrees, air] = lineAxes;
    const auto [relayTime, relayAxis] = relayAxes;
    // The comparison goes first so that the archive shown is drawn over it.
    for (auto* graphs : {&paleGraphs_, &graphs_}) {
        const bool pale = graphs == &paleGraphs_;
        for (int f = 0; f < kLineFields; ++f) {
            QCPAxis* valueAxis = f == static_cast<int>(ChartField::Air) ? air : degrees;
            QCPGraph* g = plot->addGraph(time, valueAxis);
            g->setName(ChartFieldName(static_cast<ChartField>(f)));
            // Solid one-pixel lines take the painter's fast path: thousands of points redraw
            // within a frame; dashes and wider pens would be stroked point by point.
            g->setPen(QPen(pale ? Pale(kFieldColors[f]) : kFieldColors[f], 1));
            if (pale)
                g->removeFromLegend();
            (*graphs)[f] = g;
        }
    }
    // The curve's target lies under the measured temperatures, so that a supply on its curve
    // stays visible.
    plot->addLayer(QStringLiteral("targets"), plot->layer(QStringLiteral("main")),
                   QCustomPlot::limBelow);
    const int curve = static_cast<int>(ChartField::Curve);
    graphs_[curve]->setLayer(QStringLiteral("targets"));
    paleGraphs_[curve]->setLayer(QStringLiteral("targets"));
    for (int bit = 0; bit < kRelayBits; ++bit) {
        QCPGraph* g = plot->addGraph(relayTime, relayAxis);
        g->setPen(QPen(QColor(0x2c, 0x6e, 0xa0), 7, Qt::SolidLine, Qt::FlatCap));
        g->setAntialiased(false); // level bars: smoothing only costs time
        g->removeFromLegend();
        relayBands_[bit] = g;
    }
}

void ChannelChart::BuildLegendAndNote(QCPAxisRect* main) {
    QCustomPlot* plot = timePlot_;
    // The legend beside the chart, where it hides nothing.
    plot->legend->setVisible(true);
    main->insetLayout()->take(plot->legend);
    plot->plotLayout()->addElement(0, 1, plot->legend);
    plot->plotLayout()->setColumnStretchFactor(1, 0.001);
    plot->legend->setBorderPen(Qt::NoPen);
    connect(plot, &QCustomPlot::legendClick, this,
            [this](QCPLegend*, QCPAbstractLegendItem* item, QMouseEvent*) {
                auto* entry = qobject_cast<QCPPlottableLegendItem*>(item);
                if (!entry)
                    return;
                for (int f = 0; f < kLineFields; ++f)
                    if (graphs_[f] == entry->plottable())
                        SetFieldVisible(static_cast<ChartField>(f), !graphs_[f]->visible());
            });

    emptyNote_ = new QCPItemText(plot);
    emptyNote_->setClipAxisRect(main);
    emptyNote_->position->setType(QCPItemPosition::ptAxisRectRatio);
    emptyNote_->position->setAxisRect(main);
    emptyNote_->position->setCoords(0.5, 0.5);
    QFont noteFont = font();
    noteFont.setPointSizeF(noteFont.pointSizeF() * 1.3);
    emptyNote_->setFont(noteFont);
    emptyNote_->setVisible(false);
}

void ChannelChart::BuildCurvePlot() {
    QCustomPlot* plot = curvePlot_;
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot->xAxis->setLabel(ChartFieldName(ChartField::Outdoor) + QStringLiteral(", °C"));
    plot->yAxis->setLabel(ChartFieldName(ChartField::Supply) + QStringLiteral(", °C"));
    auto scatter = [this, plot](const QColor& color, double size, const QString& name) {
        QCPGraph* g = plot->addGraph();
        g->setLineStyle(QCPGraph::lsNone);
        g->setScatterStyle(DiscStyle(color, size));
        g->setName(name);
        curveDots_.push_back({g, color, size});
        return g;
    };
    const QColor supply = kFieldColors[static_cast<int>(ChartField::Supply)];
    const QColor target = kFieldColors[static_cast<int>(ChartField::Curve)].darker(130);
    paleCurveSupply_ = scatter(Pale(supply), 4, {});
    paleCurveTarget_ = scatter(Pale(target), 3, {});
    QColor supplyDots = supply;
    supplyDots.setAlpha(110);
    curveSupply_ = scatter(supplyDots, 4, ChartFieldName(ChartField::Supply));
    curveTarget_ = scatter(target, 2.5, ChartFieldName(ChartField::Curve));
    paleCurveSupply_->removeFromLegend();
    paleCurveTarget_->removeFromLegend();
    plot->legend->setVisible(true);
    plot->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    connect(plot, &QCustomPlot::mouseDoubleClick, this, &ChannelChart::OnCurveDoubleClick);
}

void ChannelChart::SetSeries(const ChannelSeries& series, const ChannelSeries* comparison) {
    series_ = series;
    comparison_ = comparison ? *comparison : ChannelSeries{};
    for (int f = 0; f < kLineFields; ++f) {
        graphs_[f]->data()->set(LineData(series_, f), true);
        paleGraphs_[f]->data()->set(LineData(comparison_, f), true);
    }
    FillRelayBands();
    FillCurvePlot();

    if (series_.Empty()) {
        emptyNote_->setText(
            series_.invalidTimes > 0
                ? QStringLiteral("Ни у одной записи нет верной даты и времени (записей: %1)")
                      .arg(series_.invalidTimes)
                : QStringLiteral("В архиве канала нет ни одной записи"));
    }
    emptyNote_->setVisible(series_.Empty());
    for (int f = 0; f < kLineFields; ++f)
        ApplyVisibility(static_cast<ChartField>(f), ShownAtFirst(static_cast<ChartField>(f)));
    FitValueAxes();
    ShowWholeArchive();
}

void ChannelChart::FillRelayBands() {
    for (int bit = 0; bit < kRelayBits; ++bit)
        relayBands_[bit]->data()->set(BandData(series_, bit), true);
}

void ChannelChart::FillCurvePlot() {
    // Keep the record order for picking; the graphs sort their own copies by outdoor.
    curveX_.clear();
    curveY_.clear();
    curveRow_.clear();
    QVector<QCPGraphData> target;
    const auto& outdoor = series_.Values(ChartField::Outdoor);
    const auto& supply = series_.Values(ChartField::Supply);
    const auto& curve = series_.Values(ChartField::Curve);
    for (std::size_t i = 0; i < series_.time.size(); ++i) {
        if (std::isnan(outdoor[i]))
            continue;
        if (!std::isnan(supply[i])) {
            curveX_.push_back(outdoor[i]);
            curveY_.push_back(supply[i]);
            curveRow_.push_back(series_.row[i]);
        }
        if (!std::isnan(curve[i]))
            target.append({outdoor[i], curve[i]});
    }
    curveSupply_->setData(QVector<double>(curveX_.begin(), curveX_.end()),
                          QVector<double>(curveY_.begin(), curveY_.end()));
    curveTarget_->data()->set(target);

    QVector<QCPGraphData> paleSupply, paleTarget;
    const auto& pOutdoor = comparison_.Values(ChartField::Outdoor);
    for (std::size_t i = 0; i < comparison_.time.size(); ++i) {
        if (std::isnan(pOutdoor[i]))
            continue;
        paleSupply.append({pOutdoor[i], comparison_.Values(ChartField::Supply)[i]});
        paleTarget.append({pOutdoor[i], comparison_.Values(ChartField::Curve)[i]});
    }
    paleCurveSupply_->data()->set(paleSupply);
    paleCurveTarget_->data()->set(paleTarget);
    curvePlot_->rescaleAxes();
    for (QCPAxis* axis : {curvePlot_->xAxis, curvePlot_->yAxis}) {
        axis->scaleRange(1.08);
        if (axis->range().size() < 1)
            axis->setRange(axis->range().center() - 5, axis->range().center() + 5);
    }
    Replot(curvePlot_);
}

void ChannelChart::UseVectorDots() {
    for (const Dots& d : curveDots_) {
        // A round-capped dot of the disc's whole width (its outline included) is the disc.
        const double width = d.size + 1;
        d.graph->setScatterStyle(QCPScatterStyle(
            QCPScatterStyle::ssDot, QPen(OverWhite(d.color), width, Qt::SolidLine, Qt::RoundCap),
            Qt::NoBrush, width));
    }
    Replot(curvePlot_);
}

void ChannelChart::SetFieldVisible(ChartField field, bool visible) {
    ApplyVisibility(field, visible);
    FitValueAxes();
    Replot(timePlot_);
}

void ChannelChart::ApplyVisibility(ChartField field, bool visible) {
    const int f = static_cast<int>(field);
    if (f >= kLineFields)
        return;
    graphs_[f]->setVisible(visible);
    paleGraphs_[f]->setVisible(visible);
    if (QCPPlottableLegendItem* entry = timePlot_->legend->itemWithPlottable(graphs_[f]))
        entry->setTextColor(visible ? Qt::black : QColor(0xa0, 0xa0, 0xa0));
}

void ChannelChart::FitValueAxes() {
    // The value axes fit every visible series over the whole archive; NaN gaps count for nothing.
    double low[2] = {std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::infinity()};
    double high[2] = {-low[0], -low[1]};
    for (const ChannelSeries* s : {&series_, &comparison_})
        for (int f = 0; f < kLineFields; ++f) {
            if (!graphs_[f]->visible())
                continue;
            const int axis = f == static_cast<int>(ChartField::Air) ? 1 : 0;
            for (double v : s->values[f])
                if (!std::isnan(v)) {
                    low[axis] = std::min(low[axis], v);
                    high[axis] = std::max(high[axis], v);
                }
        }
    QCPAxis* axes[2] = {timePlot_->yAxis, timePlot_->yAxis2};
    for (int a = 0; a < 2; ++a) {
        if (low[a] > high[a]) {
            low[a] = a == 0 ? -20 : -120; // nothing visible: a plausible empty scale
            high[a] = a == 0 ? 80 : 120;
        }
        const double pad = std::max(1.0, (high[a] - low[a]) * 0.05);
        axes[a]->setRange(low[a] - pad, high[a] + pad);
    }
    timePlot_->yAxis2->setVisible(graphs_[static_cast<int>(ChartField::Air)]->visible());
}

void ChannelChart::ShowWholeArchive() {
    double first = std::numeric_limits<double>::infinity(), last = -first;
    for (const ChannelSeries* s : {&series_, &comparison_})
        if (!s->Empty()) {
            first = std::min(first, s->time.front());
            last = std::max(last, s->time.back() + s->logInterval);
        }
    if (first > last) { // nothing to show: today
        last = static_cast<double>(QDateTime::currentSecsSinceEpoch());
        first = last - 86400;
    }
    if (last - first < 3600)
        last = first + 3600;
    timePlot_->xAxis->setRange(first, last);
    Replot(timePlot_);
}

void ChannelChart::Replot(QCustomPlot* plot) {
    // A hidden chart is drawn when it is shown: at its first show by its resize, later here.
    if (isVisible())
        plot->replot();
    else
        stale_ = true;
}

void ChannelChart::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (stale_) {
        stale_ = false;
        timePlot_->replot();
        curvePlot_->replot();
    }
}

void ChannelChart::OnPress(QMouseEvent* event) {
    const bool band =
        event->button() == Qt::RightButton || event->modifiers().testFlag(Qt::ShiftModifier);
    timePlot_->setSelectionRectMode(band ? QCP::srmCustom : QCP::srmNone);
}

QString ChannelChart::PointText(int i) const {
    QStringList lines;
    lines << QStringLiteral("%1   строка %2").arg(TimeText(series_.time[i])).arg(series_.row[i]);
    for (int f = 0; f < kLineFields; ++f) {
        if (!graphs_[f]->visible())
            continue;
        const double v = series_.values[f][i];
        lines << ChartFieldName(static_cast<ChartField>(f)) + QStringLiteral(": ") +
                     (f < ChartTemperatureCount ? Degrees(v) : QString::number(v));
    }
    const int relay = static_cast<int>(series_.Values(ChartField::Relay)[i]);
    QStringList on;
    for (int bit = 0; bit < kRelayBits; ++bit)
        if (relay & (1 << bit))
            on << QStringLiteral("Р%1").arg(bit + 1);
    lines << QStringLiteral("Реле: %1 (%2)")
                 .arg(relay)
                 .arg(on.isEmpty() ? QStringLiteral("все выкл.")
                                   : on.join(QStringLiteral(", ")) + QStringLiteral(" вкл."));

    // The comparison's record at the same time, when it has one near.
    const int j = NearestPoint(comparison_, series_.time[i]);
    if (j >= 0 && std::abs(comparison_.time[j] - series_.time[i]) <= comparison_.logInterval) {
        lines << QStringLiteral("Сравнение, %1:").arg(TimeText(comparison_.time[j]));
        for (int f = 0; f < kLineFields; ++f)
            if (graphs_[f]->visible()) {
                const double v = comparison_.values[f][j];
                lines << QStringLiteral("  ") + ChartFieldName(static_cast<ChartField>(f)) +
                             QStringLiteral(": ") +
                             (f < ChartTemperatureCount ? Degrees(v) : QString::number(v));
            }
    }
    return lines.join(QLatin1Char('\n'));
}

void ChannelChart::OnHover(QMouseEvent* event) {
    if (event->buttons() != Qt::NoButton || series_.Empty())
        return;
    const QPoint pos = event->pos();
    const bool inside =
        timePlot_->axisRect()->rect().contains(pos) || timePlot_->axisRect(1)->rect().contains(pos);
    if (!inside) {
        QToolTip::hideText();
        return;
    }
    const int i = NearestPoint(series_, timePlot_->xAxis->pixelToCoord(pos.x()));
    QToolTip::showText(event->globalPosition().toPoint(), PointText(i), timePlot_);
}

void ChannelChart::OnTimeDoubleClick(QMouseEvent* event) {
    QCPAxis* t = timePlot_->xAxis;
    const int i = NearestPoint(series_, t->pixelToCoord(event->pos().x()));
    if (i >= 0 && std::abs(t->coordToPixel(series_.time[i]) - event->pos().x()) <= kPickPixels)
        emit RecordActivated(series_.row[i]);
}

void ChannelChart::OnCurveDoubleClick(QMouseEvent* event) {
    const QPointF at = event->position();
    int best = -1;
    double bestDistance = kPickPixels * kPickPixels;
    for (std::size_t i = 0; i < curveX_.size(); ++i) {
        const double dx = curvePlot_->xAxis->coordToPixel(curveX_[i]) - at.x();
        const double dy = curvePlot_->yAxis->coordToPixel(curveY_[i]) - at.y();
        if (dx * dx + dy * dy <= bestDistance) {
            bestDistance = dx * dx + dy * dy;
            best = static_cast<int>(i);
        }
    }
    if (best >= 0)
        emit RecordActivated(curveRow_[best]);
}

QSize ChannelChart::PictureSize() const {
    return {timePlot_->width() + curvePlot_->width(), std::max(timePlot_->height(), 300)};
}

void ChannelChart::Paint(QCPPainter& painter, QSize size) const {
    // The two charts share the width as the tab shows them.
    const int total = std::max(1, timePlot_->width() + curvePlot_->width());
    const int timeWidth = size.width() * timePlot_->width() / total;
    painter.save();
    timePlot_->toPainter(&painter, timeWidth, size.height());
    painter.restore();
    painter.save();
    painter.translate(timeWidth, 0);
    curvePlot_->toPainter(&painter, size.width() - timeWidth, size.height());
    painter.restore();
}
