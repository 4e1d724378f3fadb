#pragma once

// The main window's service menu: "Диагностика порта…" (also offered in the status bar when
// discovery found nothing), "Журнал обмена" (the exchange log, on or off, kept in the settings)
// and "Просмотр журнала обмена…".

#include <QObject>
#include <QPointer>

#include <memory>

class ExchangeLog;
class QAction;
class TMainForm;

class ServiceTools : public QObject {
public:
    // Adds the entries to the window's service menu; a child of the window.
    explicit ServiceTools(TMainForm& form);
    ~ServiceTools() override;

    // The window's start: the exchange log runs when the settings say so.
    void Start();
    // The window's end: the exchange log stops, the settings keep what the user chose.
    void Stop() { RunExchangeLog(false); }
    // The status bar's hint after discovery found nothing: a link to the port doctor.
    void OfferPortDoctor();

private:
    void OpenPortDoctor();
    void OpenExchangeLogView();
    // Turns the exchange log on (in the state folder) or off; the state goes to the settings.
    void SetExchangeLog(bool on);
    // Starts or stops the exchange log without touching the settings.
    void RunExchangeLog(bool on);

    TMainForm& form_;
    QAction* logAction_ = nullptr; // "Журнал обмена", checkable
    std::unique_ptr<ExchangeLog> log_;
    QPointer<QWidget> portDoctor_; // the open service windows, deleted when closed
    QPointer<QWidget> logView_;
};
