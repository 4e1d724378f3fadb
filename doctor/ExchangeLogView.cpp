#include "ExchangeLogView.h"

#include "ExchangeLog.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int kRefreshMs = 300;
}

ExchangeLogView::ExchangeLogView(std::function<const ExchangeLog*()> currentLog, QWidget* parent)
    : QWidget(parent, Qt::Window), currentLog_(std::move(currentLog)) {
    setObjectName(QStringLiteral("ExchangeLogView"));
    setWindowTitle(QStringLiteral("Журнал обмена"));
    Lines = new QPlainTextEdit(this);
    Lines->setReadOnly(true);
    Lines->setLineWrapMode(QPlainTextEdit::NoWrap);
    Lines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Lines);
    resize(760, 420);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &ExchangeLogView::Update);
    timer_->start(kRefreshMs);
    Update();
}

void ExchangeLogView::Update() {
    const ExchangeLog* log = currentLog_ ? currentLog_() : nullptr;
    if (!log) {
        if (shownLog_ || Lines->toPlainText().isEmpty())
            Lines->setPlainText(QStringLiteral("Журнал обмена выключен (Сервис → Журнал обмена)."));
        shownLog_ = nullptr;
        return;
    }
    if (log == shownLog_ && log->LineCount() == shownCount_)
        return;
    shownLog_ = log;
    shownCount_ = log->LineCount();
    Lines->setPlainText(log->RecentLines().join('\n'));
    Lines->moveCursor(QTextCursor::End);
}
