#include "StatusPanels.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QTextDocumentFragment>
#include <QTimer>

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
    hint_ = new QLabel(this);
    hint_->setObjectName(QStringLiteral("Hint"));
    hint_->setTextFormat(Qt::RichText);
    hint_->hide();
    layout->addWidget(hint_, 0);
    connect(hint_, &QLabel::linkActivated, this, &StatusPanels::hintActivated);

    notice_ = new QLabel(this);
    notice_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    notice_->setTextFormat(Qt::PlainText);
    notice_->setObjectName(QStringLiteral("Notice"));
    notice_->hide();
    noticeTimer_ = new QTimer(this);
    noticeTimer_->setSingleShot(true);
    connect(noticeTimer_, &QTimer::timeout, notice_, [this] {
        notice_->clear();
        notice_->hide();
    });
}

void StatusPanels::SetHint(const QString& text, const QString& linkText) {
    QString html = text.toHtmlEscaped();
    if (!text.isEmpty() && !linkText.isEmpty())
        html += QStringLiteral(" <a href=\"#\">%1</a>").arg(linkText.toHtmlEscaped());
    hint_->setText(html);
    hint_->setVisible(!text.isEmpty());
}

QString StatusPanels::HintText() const {
    return hint_->text().isEmpty() ? QString()
                                   : QTextDocumentFragment::fromHtml(hint_->text()).toPlainText();
}

void StatusPanels::ShowNotice(const QString& text, int milliseconds) {
    notice_->setGeometry(panels_[1]->geometry());
    notice_->setText(text);
    notice_->setToolTip(text);
    notice_->show();
    notice_->raise();
    noticeTimer_->start(milliseconds);
}

QString StatusPanels::Notice() const {
    return notice_->text();
}

QString StatusPanels::PanelText(int panel) const {
    return panel >= 0 && panel < 2 ? panels_[panel]->text() : QString();
}

void StatusPanels::SetPanelText(int panel, const QString& text) {
    if (panel >= 0 && panel < 2)
        panels_[panel]->setText(text);
}
