#pragma once

// The charts of one channel: the temperatures over time with the relay states as bands under
// them, and beside it the heating curve (supply against outdoor, the curve's target over it).
// A comparison archive of the same controller is drawn on the same axes in pale colours.
//
// Mouse: the wheel zooms the time axis, a drag pans it, a drag with the right button (or with
// Shift) zooms in on the stretch it marks; hovering shows the time and every visible value;
// a double click on a point reports its record's row. A click on a legend entry shows or hides
// that series.

#include "ChartSeries.h"

#include <QColor>
#include <QSize>
#include <QWidget>

#include <array>
#include <vector>

class QCPAxis;
class QCPAxisRect;
class QCPGraph;
class QCPItemText;
class QCPPainter;
class QCustomPlot;
class QMouseEvent;

class ChannelChart : public QWidget {
    Q_OBJECT

public:
    explicit ChannelChart(QWidget* parent = nullptr);

    // Draws series and, when not null, comparison beside it; the time axis then shows both whole.
    // An empty series shows an empty chart that says why.
    void SetSeries(const ChannelSeries& series, const ChannelSeries* comparison);
    // The time axis back to the whole archive (and the comparison).
    void ShowWholeArchive();

    // The series shown at first; the others are one legend click away.
    static bool ShownAtFirst(ChartField field);
    void SetFieldVisible(ChartField field, bool visible);

    QCustomPlot* TimePlot() const { return timePlot_; }
    QCustomPlot* CurvePlot() const { return curvePlot_; }

    // For a page: the heating curve's dots as vector discs in their colours as over white.
    // (Recorded for a PDF, each dot of the window's own style would be an image of its own, and
    // a PDF/A page has no transparency.)
    void UseVectorDots();

    // Both charts side by side as the tab shows them, painted at the painter's origin.
    QSize PictureSize() const;
    void Paint(QCPPainter& painter, QSize size) const;

signals:
    // A double click on a point: the row of its record in the channel's data grid.
    void RecordActivated(int row);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Replot(QCustomPlot* plot); // now when visible, otherwise when next shown
    void BuildTimePlot();
    // The temperatures' graphs (time, degrees and air axes) and the relay bands (their time and
    // rows).
    void AddTimeGraphs(const std::array<QCPAxis*, 3>& lineAxes,
                       const std::array<QCPAxis*, 2>& relayAxes);
    void BuildLegendAndNote(QCPAxisRect* main); // the legend, and the note of an empty chart
    void BuildCurvePlot();
    void FillRelayBands();
    void FillCurvePlot();
    void ApplyVisibility(ChartField field, bool visible); // without refitting or redrawing
    void FitValueAxes();
    void OnPress(QMouseEvent* event);
    void OnHover(QMouseEvent* event);
    void OnTimeDoubleClick(QMouseEvent* event);
    void OnCurveDoubleClick(QMouseEvent* event);
    QString PointText(int index) const;

    QCustomPlot* timePlot_ = nullptr;
    QCustomPlot* curvePlot_ = nullptr;
    QCPItemText* emptyNote_ = nullptr;
    bool stale_ = false; // changed while hidden
    // Temperatures and "tвозд" (on the right axis); the comparison's in pale colours.
    std::array<QCPGraph*, ChartFieldCount - 1> graphs_{};
    std::array<QCPGraph*, ChartFieldCount - 1> paleGraphs_{};
    std::array<QCPGraph*, 8> relayBands_{};
    QCPGraph* curveSupply_ = nullptr;
    QCPGraph* curveTarget_ = nullptr;
    QCPGraph* paleCurveSupply_ = nullptr;
    QCPGraph* paleCurveTarget_ = nullptr;
    // Each dot graph of the heating curve with its colour and size, for UseVectorDots.
    struct Dots {
        QCPGraph* graph;
        QColor color;
        double size;
    };
    std::vector<Dots> curveDots_;

    ChannelSeries series_;
    ChannelSeries comparison_;
    // The heating curve's supply points in pixels are found again from these (outdoor, supply,
    // row), kept in record order.
    std::vector<double> curveX_, curveY_;
    std::vector<int> curveRow_;
};
