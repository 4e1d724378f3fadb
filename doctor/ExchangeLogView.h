#pragma once

// "Журнал обмена — просмотр": the newest lines of the exchange log, refreshed while open.

#include <QWidget>

#include <functional>

class ExchangeLog;
class QPlainTextEdit;
class QTimer;

class ExchangeLogView : public QWidget {
    Q_OBJECT

public:
    // currentLog gives the log now on, or nullptr while it is off.
    explicit ExchangeLogView(std::function<const ExchangeLog*()> currentLog,
                             QWidget* parent = nullptr);

    QPlainTextEdit* Lines = nullptr;

    // Shows the newest lines if anything changed since the last call.
    void Update();

private:
    std::function<const ExchangeLog*()> currentLog_;
    QTimer* timer_ = nullptr;
    const ExchangeLog* shownLog_ = nullptr;
    quint64 shownCount_ = 0;
};
