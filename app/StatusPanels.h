#pragma once

// The window's status bar: two text panels, panel 0 of fixed width, panel 1 taking the rest.

#include <QWidget>

class QLabel;
class QTimer;

class StatusPanels : public QWidget {
    Q_OBJECT

public:
    StatusPanels(int firstPanelWidth, QWidget* parent = nullptr);

    int PanelCount() const { return 2; }
    // Out-of-range panels read as the empty text and ignore writes.
    QString PanelText(int panel) const;
    void SetPanelText(int panel, const QString& text);

    // A short hint after the panels, with a link when linkText is given; hidden while empty. Not a
    // panel: what the panels say (and the exports read) is unchanged.
    void SetHint(const QString& text, const QString& linkText);
    QString HintText() const;

    // Shows a notice over panel 1 for the given time without changing the panel's text (which
    // the exports read): the panel shows again when the notice ends.
    void ShowNotice(const QString& text, int milliseconds = 15000);
    QString Notice() const; // empty when none is shown

signals:
    void hintActivated();

private:
    QLabel* panels_[2];
    QLabel* hint_;
    QLabel* notice_;
    QTimer* noticeTimer_;
};
