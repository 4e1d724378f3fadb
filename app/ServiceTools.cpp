#include "ServiceTools.h"

#include "ExchangeLog.h"
#include "ExchangeLogView.h"
#include "FrameTrace.h"
#include "MainForm.h"
#include "PortDoctorWindow.h"
#include "PortSettings.h"
#include "SettingsFile.h"
#include "StatusPanels.h"
#include "UserFolders.h"

#include <QAction>
#include <QMenu>

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

ServiceTools::ServiceTools(TMainForm& form) : QObject(&form), form_(form) {
    QAction* newRecords = form.ServiceMenu->addAction(QStringLiteral("Прочитать новые записи"));
    newRecords->setObjectName(QStringLiteral("NewRecordsAction"));
    connect(newRecords, &QAction::triggered, this,
            [this] { form_.RunGuarded([this] { form_.NewRecordsClick(); }); });
    form.ServiceMenu->addSeparator();

    QAction* doctor = form.ServiceMenu->addAction(QStringLiteral("Диагностика порта…"));
    doctor->setObjectName(QStringLiteral("PortDoctorAction"));
    connect(doctor, &QAction::triggered, this, &ServiceTools::OpenPortDoctor);

    logAction_ = form.ServiceMenu->addAction(QStringLiteral("Журнал обмена"));
    logAction_->setObjectName(QStringLiteral("ExchangeLogAction"));
    logAction_->setCheckable(true);
    connect(logAction_, &QAction::triggered, this, &ServiceTools::SetExchangeLog);

    QAction* view = form.ServiceMenu->addAction(QStringLiteral("Просмотр журнала обмена…"));
    view->setObjectName(QStringLiteral("ExchangeLogViewAction"));
    connect(view, &QAction::triggered, this, &ServiceTools::OpenExchangeLogView);

    connect(form.StatusBar, &StatusPanels::hintActivated, this, &ServiceTools::OpenPortDoctor);
}

// The window's end (Stop) took the log off the link already; the link, a member of the window,
// is gone before the window's children are deleted, so it is not touched here.
ServiceTools::~ServiceTools() = default;

void ServiceTools::Start() {
    const SettingsFile* settings = form_.Settings();
    RunExchangeLog(settings && settings->ReadInteger(kService, kExchangeLog, 0) == 1);
}

void ServiceTools::OfferPortDoctor() {
    form_.StatusBar->SetHint(QStringLiteral("Порт не найден?"),
                             QStringLiteral("Диагностика порта"));
}

void ServiceTools::OpenPortDoctor() {
    Raise(portDoctor_, [this] {
        PortDoctorHooks hooks;
        hooks.speed = form_.PortSpeed;
        hooks.linkBusy = [this] { return form_.Busy() || form_.Closing(); };
        hooks.address = [this] { return form_.Link().DeviceAddress; };
        hooks.assignPort = [this](int port, const QString& device) {
            SettingsFile* settings = form_.Settings();
            if (!settings)
                return;
            settings->WritePort(port, device);
            settings->UpdateFile();
            form_.UsePortSettings();
        };
        hooks.ports = [this] { return form_.Link().Ports(); };
        return new PortDoctorWindow(std::move(hooks), SurveyRoots{}, &form_);
    });
}

void ServiceTools::OpenExchangeLogView() {
    Raise(logView_, [this] {
        return new ExchangeLogView([this]() -> const ExchangeLog* { return log_.get(); }, &form_);
    });
}

void ServiceTools::SetExchangeLog(bool on) {
    RunExchangeLog(on);
    if (SettingsFile* settings = form_.Settings())
        settings->WriteInteger(kService, kExchangeLog, log_ ? 1 : 0);
}

void ServiceTools::RunExchangeLog(bool on) {
    form_.Link().SetTrace(nullptr);
    log_.reset();
    if (on) {
        log_ = std::make_unique<ExchangeLog>(StateFolder());
        // Called inside a link call: the log is switched off later, from the event loop.
        log_->onFailure = [self = QPointer<ServiceTools>(this)](const QString& reason) {
            QMetaObject::invokeMethod(
                self,
                [self, reason] {
                    if (!self)
                        return;
                    self->SetExchangeLog(false);
                    self->form_.StatusBar->SetHint(
                        QStringLiteral("Журнал обмена выключен: %1.").arg(reason), QString());
                },
                Qt::QueuedConnection);
        };
        form_.Link().SetTrace(log_.get());
    }
    logAction_->setChecked(on);
}
