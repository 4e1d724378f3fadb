#pragma once

// The window's status bar: two text panels, panel 0 of fixed width, panel 1 taking the rest.

#include <QWidget>

class QLabel;

class StatusPanels : public QWidget {
    Q_OBJECT

public:
    StatusPanels(int firstPanelWidth, QWidget* parent = nullptr);

    int PanelCount() const { return 2; }
    // Out-of-range panels read as the empty text and ignore writes.
    QString PanelText(int panel) const;
    void SetPanelText(int panel, const QString& text);

private:
    QLabel* panels_[2];
};
