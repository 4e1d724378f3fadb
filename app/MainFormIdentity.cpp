// The controller and its identity in the group box " Информация ": finding the controller,
// reading its identity, changing it (with its line in the journal of changes), and the access
// code that unlocks the serial number.

#include "MainForm.h"

#include "AccessCode.h"
#include "Cp1251.h"
#include "Discovery.h"
#include "FrameLink.h"
#include "IdentityCommands.h"
#include "IdentityJournal.h"
#include "PortMap.h"
#include "ServiceSession.h"
#include "ServiceTools.h"
#include "SpinEdit.h"
#include "StatusPanels.h"
#include "UserFolders.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

void TMainForm::btReadInfoClick() {
    link_.ReconnectIfLost(); // a port on the network lost earlier
    const IdentityReadResult result = ReadIdentity(link_);
    if (result.serial)
        speSerial->setValue(*result.serial);
    if (result.address)
        speAddr->setValue(*result.address);
    if (result.comment)
        edComment->setText(FromCp1251(*result.comment));
    if (!result.error.isEmpty())
        ShowMessage(QString::fromLatin1(result.error));
    SetStatusText(1, FromCp1251(result.lastReply));

    // Kept as the read returned it, for the archive files and the journal of identity changes.
    session_->SetIdentityRead(result, StatusText(1));
}

void TMainForm::btWriteInfoClick() {
    IdentityChange change;
    change.address = static_cast<std::uint8_t>(speAddr->Value() & 0xFF);
    const int serial = speSerial->Value();
    // A locked field writes the serial number only when it holds what this controller gave:
    // with no controller read (or a read that failed before the serial number) it holds a
    // starting value that must never replace the controller's real number.
    if (!speSerial->isReadOnly() || (session_->LastRead().serial == serial))
        change.serial = static_cast<std::uint16_t>(serial);
    change.comment = ToCp1251(edComment->text());

    // The fields hold a file's identity, which must never be written into a controller.
    if (FileViewShown()) {
        JournalIdentityChange(change, nullptr, {});
        ShowMessage(QStringLiteral("В окне показан архив из файла %1.\n"
                                   "Его серийный номер, адрес и комментарий не записываются в "
                                   "регулятор. Прочитайте данные из регулятора, чтобы вернуться "
                                   "к нему, и тогда изменяйте.")
                        .arg(QFileInfo(ShownArchivePath()).fileName()),
                    MessageIcon::Warning);
        return;
    }

    link_.ReconnectIfLost(); // a port on the network lost earlier
    IdentityWriteSteps steps;
    const QByteArray error = WriteIdentity(link_, change, &steps);
    // On the disk before anything else can happen (the message below waits for the user).
    JournalIdentityChange(change, &steps, error);
    if (!error.isEmpty())
        ShowMessage(QString::fromLatin1(error));
    btReadInfoClick();
}

void TMainForm::speSerialDblClick() {
    const QString typed = Dialogs()
                              .InputBox(QStringLiteral("Введите пароль"), QString(), QString())
                              .value_or(QString());
    const bool unlocked = IsAccessCode(typed);
    speSerial->setReadOnly(!unlocked);
    speAddr->setReadOnly(!unlocked);
}

void TMainForm::FindController() {
    session_->SetController(0);
    const DiscoveryResult found = DiscoverController(link_, ConfiguredPort, PortSpeed);
    if (found.port == 0) {
        if (!FileViewShown()) { // an archive file shown needs no controller
            ShowMessage(QStringLiteral("Регулятор не обнаружен!"));
            service_->OfferPortDoctor();
        }
        return;
    }
    session_->SetController(found.channelCount);
    SetStatusText(0, PortName(found.port));
    if (!link_.OpenNotice().isEmpty()) // a box on the network that kept its own line settings
        StatusBar->ShowNotice(link_.OpenNotice());
    SetStatusText(1, FromCp1251(found.identification));
    RunHandler(&TMainForm::btReadInfoClick);
}

void TMainForm::JournalIdentityChange(const IdentityChange& change, const IdentityWriteSteps* steps,
                                      const QByteArray& error) {
    const IdentityJournalEntry entry = session_->JournalEntry(
        change, steps, error, link_.CurrentPortLabel(), QDateTime::currentDateTime());
    const QString failure = AppendJournalLine(IdentityJournalPath(), FormatJournalLine(entry));
    if (!failure.isEmpty())
        StatusBar->ShowNotice(QStringLiteral("Журнал изменений не записан (%1): %2")
                                  .arg(QDir::toNativeSeparators(IdentityJournalPath()), failure));
}
