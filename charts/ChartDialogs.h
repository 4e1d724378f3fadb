#pragma once

// The modal dialogs of the chart window. The window asks only through this interface, so that
// tests can answer from a script instead of blocking on a real dialog.

#include <QString>

#include <memory>

class QWidget;

class ChartDialogs {
public:
    virtual ~ChartDialogs() = default;

    // Asks for an archive file to compare with, starting at proposedPath; empty when cancelled.
    virtual QString OpenArchive(const QString& proposedPath) = 0;
    // Asks where to save the chart (PNG or PDF), starting at proposedPath; empty when cancelled.
    virtual QString SaveChart(const QString& proposedPath) = 0;
    // A modal warning with one button.
    virtual void Warn(const QString& text) = 0;
};

// The real dialogs, modal to parent.
std::unique_ptr<ChartDialogs> MakeQtChartDialogs(QWidget* parent);
