// The window's life: building it (controls, menus, handlers), FormCreate (settings, headings,
// the controller or the file given at start) and FormClose (settings saved, port closed).

#include "MainForm.h"

#include "DeviceAddressSetting.h"
#include "FrameLink.h"
#include "GridHeadings.h"
#include "ServiceSession.h"
#include "ServiceTools.h"
#include "SettingsFile.h"
#include "SettingsLocation.h"
#include "SpinEdit.h"
#include "StatusPanels.h"
#include "StringGrid.h"
#include "UserFolders.h"

#include <QCloseEvent>
#include <QLocale>
#include <QPushButton>
#include <QTimer>

#include <clocale>

namespace {

const QString kGeneral = QStringLiteral("General");
const QString kLeft = QStringLiteral("Left");
const QString kTop = QStringLiteral("Top");
const QString kComPort = QStringLiteral("COM port");
const QString kComSpeed = QStringLiteral("COM speed");
const QString kDeviceAddress = QStringLiteral("Device address");

} // namespace

TMainForm::TMainForm(MainFormOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      link_({}, std::move(options.transport)), dialogs_(std::move(options.dialogs)),
      settingsPath_(std::move(options.settingsPath)),
      session_(std::make_unique<ServiceSession>(ArchivesFolder())),
      startPath_(std::move(options.archivePath)), systemDevices_(std::move(options.systemDevices)) {
    if (!dialogs_)
        dialogs_ = MakeQtUserDialogs(this);
    BuildDesign(*this);
    BuildMenus();
    ConnectHandlers();
    FormCreate();
}

TMainForm::~TMainForm() {
    if (!closed_) {
        closing_ = true;
        try {
            FormClose();
        } catch (...) {
            // Nothing can be shown any more.
        }
    }
}

void TMainForm::ConnectHandlers() {
    connect(btReadInfo, &QPushButton::clicked, this,
            [this] { RunHandler(&TMainForm::btReadInfoClick); });
    connect(btWriteInfo, &QPushButton::clicked, this,
            [this] { RunGuarded(&TMainForm::btWriteInfoClick); });
    connect(speSerial, &TSpinEdit::doubleClicked, this,
            [this] { RunHandler(&TMainForm::speSerialDblClick); });
    connect(speAddr, &TSpinEdit::doubleClicked, this,
            [this] { RunHandler(&TMainForm::speSerialDblClick); });
    connect(bt_DF_Read, &QPushButton::clicked, this,
            [this] { RunGuarded(&TMainForm::bt_DF_ReadClick); });
    connect(btSaveToTxt, &QPushButton::clicked, this,
            [this] { RunGuarded(&TMainForm::btSaveToTxtClick); });
    connect(btExportToExel, &QPushButton::clicked, this,
            [this] { RunGuarded(&TMainForm::btExportToExelClick); });
    connect(btExportToOOo, &QPushButton::clicked, this,
            [this] { RunGuarded(&TMainForm::btExportToOOoClick); });
}

void TMainForm::FormCreate() {
    // Number formatting uses the full stop, whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());

    if (settingsPath_.isEmpty()) {
        const SettingsLocation where = ProgramSettingsLocation();
        settingsPath_ = where.writePath;
        settings_ = std::make_unique<SettingsFile>(where.readPath, where.writePath);
    } else {
        settings_ = std::make_unique<SettingsFile>(settingsPath_);
    }

    const int left = settings_->ReadInteger(kGeneral, kLeft, kDesignLeft);
    const int top = settings_->ReadInteger(kGeneral, kTop, kDesignTop);
    move(left, top);
    ConfiguredPort = settings_->ReadInteger(kGeneral, kComPort, 0);
    PortSpeed = settings_->ReadInteger(kGeneral, kComSpeed, 115200);
    const DeviceAddressSetting address = ReadDeviceAddress(*settings_);
    link_.DeviceAddress = address.address;
    // Settings not taken as written are said, never used unseen.
    QStringList refusedSettings = UsePortSettings();
    if (!address.notice.isEmpty())
        refusedSettings << address.notice;
    if (!refusedSettings.isEmpty())
        StatusBar->ShowNotice(refusedSettings.join(QStringLiteral("; ")));
    // Connecting to a box on the network lets the window repaint meanwhile.
    link_.SetResponsive(true);
    service_->Start();

    speAddr->setValue(link_.DeviceAddress);

    WriteHeadings(StringGrid1->Cells(), DataHeadings());
    WriteHeadings(StringGrid3->Cells(), DataHeadings());
    WriteHeadings(StringGrid2->Cells(), SettingsHeadings());
    WriteHeadings(StringGrid4->Cells(), SettingsHeadings());

    // Started with an archive file: it is shown at once, and the controller is looked for once
    // the window runs, behind the file view.
    if (!startPath_.isEmpty() && OpenArchiveFile(startPath_)) {
        QTimer::singleShot(0, this,
                           [this] { RunGuarded(&TMainForm::FindControllerBehindFileView); });
        return;
    }
    FindController();
}

void TMainForm::FormClose() {
    closed_ = true;
    service_->Stop();
    ConfiguredPort = link_.CurrentPort();
    // A download's file is on the disk, and in the recent list, before the settings are saved.
    WaitForArchiveSaves();
    try {
        if (settings_) {
            settings_->WriteInteger(kGeneral, kLeft, x());
            settings_->WriteInteger(kGeneral, kTop, y());
            settings_->WriteInteger(kGeneral, kComPort, ConfiguredPort);
            settings_->WriteInteger(kGeneral, kDeviceAddress, link_.DeviceAddress);
            settings_->UpdateFile();
        }
    } catch (...) {
        settings_.reset();
        link_.CloseCOM();
        throw;
    }
    settings_.reset();
    // The port is closed in any case, so that a download still running stops on a closed port
    // rather than talking to the controller after the window has gone.
    link_.CloseCOM();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    closing_ = true;
    if (!closed_) {
        try {
            FormClose();
        } catch (const std::exception& e) {
            ShowException(e);
        }
    }
    event->accept();
}
