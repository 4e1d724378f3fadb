#include "StatusPanels.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>

StatusPanels::StatusPanels(int firstPanelWidth, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 0);
    layout->setSpacing(2);
    for (int i = 0; i < 2; ++i) {
        panels_[i] = new QLabel(this);
        panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panels_[i]->setTextFormat(Qt::PlainText);
        panels_[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
        layout->addWidget(panels_[i], i == 0 ? 0 : 1);
    }
    panels_[0]->setFixedWidth(firstPanelWidth);
}

QString StatusPanels::PanelText(int panel) const {
    return panel >= 0 && panel < 2 ? panels_[panel]->text() : QString();
}

void StatusPanels::SetPanelText(int panel, const QString& text) {
    if (panel >= 0 && panel < 2)
        panels_[panel]->setText(text);
}
