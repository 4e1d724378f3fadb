// The service menu: "Диагностика порта", "Журнал обмена" and its live view.

#include "MainForm.h"

#include "Discovery.h"
#include "ExchangeLog.h"
#include "ExchangeLogView.h"
#include "FrameTrace.h"
#include "PortDoctorWindow.h"
#include "PortMap.h"
#include "SettingsFile.h"
#include "StatusPanels.h"
#include "UserFolders.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace {
const QString kService = QStringLiteral("Service");
const QString kExchangeLog = QStringLiteral("Exchange log");

// Shows a service window, making it first if it is not open.
template <typename Make> void Raise(QPointer<QWidget>& window, Make make) {
    if (!window) {
        window = make();
        window->setAttribute(Qt::WA_DeleteOnClose);
    }
    window->show();
    window->raise();
    window->activateWindow();
}
} // namespace

void TMainForm::BuildServiceMenu() {
    QAction* doctor = ServiceMenu->addAction(QStringLiteral("Диагностика порта…"));
    doctor->setObjectName(QStringLiteral("PortDoctorAction"));
    connect(doctor, &QAction::triggered, this, &TMainForm::OpenPortDoctor);

    ExchangeLogAction = ServiceMenu->addAction(QStringLiteral("Журнал обмена"));
    ExchangeLogAction->setObjectName(QStringLiteral("ExchangeLogAction"));
    ExchangeLogAction->setCheckable(true);
    connect(ExchangeLogAction, &QAction::triggered, this, &TMainForm::SetExchangeLog);

    QAction* view = ServiceMenu->addAction(QStringLiteral("Просмотр журнала обмена…"));
    view->setObjectName(QStringLiteral("ExchangeLogViewAction"));
    connect(view, &QAction::triggered, this, &TMainForm::OpenExchangeLogView);

    connect(StatusBar, &StatusPanels::hintActivated, this, &TMainForm::OpenPortDoctor);
}

void TMainForm::OfferPortDoctor() {
    StatusBar->SetHint(QStringLiteral("Порт не найден?"), QStringLiteral("Диагностика порта"));
}

void TMainForm::OpenPortDoctor() {
    Raise(portDoctor_, [this] {
        PortDoctorHooks hooks;
        hooks.speed = PortSpeed;
        hooks.linkBusy = [this] { return Busy() || Closing(); };
        hooks.assignPort = [this](int port, const QString& device) {
            if (!settings_)
                return;
            settings_->WritePort(port, device);
            settings_->UpdateFile();
            SetPortMap(settings_->ReadPorts());
        };
        return new PortDoctorWindow(std::move(hooks), SurveyRoots{}, this);
    });
}

void TMainForm::OpenExchangeLogView() {
    Raise(exchangeLogView_,
          [this] { return new ExchangeLogView([this] { return CurrentExchangeLog(); }, this); });
}

void TMainForm::SetExchangeLog(bool on) {
    RunExchangeLog(on);
    if (settings_)
        settings_->WriteInteger(kService, kExchangeLog, exchangeLog_ ? 1 : 0);
}

void TMainForm::RunExchangeLog(bool on) {
    SetFrameTrace(nullptr);
    exchangeLog_.reset();
    if (on) {
        exchangeLog_ = std::make_unique<ExchangeLog>(StateFolder());
        // Called inside a link call: the log is switched off later, from the event loop.
        exchangeLog_->onFailure = [self = QPointer<TMainForm>(this)](const QString& reason) {
            QMetaObject::invokeMethod(
                self,
                [self, reason] {
                    if (!self)
                        return;
                    self->SetExchangeLog(false);
                    self->StatusBar->SetHint(
                        QStringLiteral("Журнал обмена выключен: %1.").arg(reason), QString());
                },
                Qt::QueuedConnection);
        };
        SetFrameTrace(exchangeLog_.get());
    }
    if (ExchangeLogAction)
        ExchangeLogAction->setChecked(on);
}
