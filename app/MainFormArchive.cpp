// The file view: an archive file shown in the grids and fields without the controller, and
// the way back to the controller; a record row selected from elsewhere (the charts, findings).

#include "MainForm.h"

#include "ArchiveDecoder.h"
#include "FrameLink.h"
#include "RecentArchives.h"
#include "ServiceSession.h"
#include "SettingsFile.h"
#include "SpinEdit.h"
#include "StatusPanels.h"
#include "StringGrid.h"
#include "TextGrid.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabWidget>

namespace {

constexpr int kDataGridRows = 4220; // rows of an empty data grid, as the window starts

// Nothing of another archive stays on a channel's page: its grids are as at start.
void ClearChannel(TextGrid& data, TextGrid& settings) {
    data.BeginUpdate();
    data.SetRowCount(1);
    data.SetRowCount(kDataGridRows);
    data.EndUpdate();
    for (int row = 1; row < settings.RowCount(); ++row)
        settings.ClearRow(row);
}

} // namespace

void TMainForm::SelectRecordRow(int channel, int row) {
    StringGrid* const grid = channel == 1 ? StringGrid1 : channel == 2 ? StringGrid3 : nullptr;
    if (!grid || row < 1 || row >= grid->RowCount())
        return;
    PageControl1->setCurrentIndex(channel - 1);
    // The view's rows start below the heading row 0.
    const QModelIndex index = grid->model()->index(row - 1, 0);
    grid->selectRow(row - 1);
    grid->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

bool TMainForm::OpenArchiveFile(const QString& path) {
    const ArchiveFileReadResult read = ReadArchiveFile(path);
    if (!read.contents) {
        ShowMessage(QStringLiteral("Не удалось открыть архив %1:\n%2.")
                        .arg(QDir::toNativeSeparators(path), read.error),
                    MessageIcon::Error);
        return false;
    }
    const QString absolute = QFileInfo(path).absoluteFilePath();
    ShowArchive(*read.contents, absolute);
    if (settings_)
        AddRecentArchive(*settings_, absolute);
    return true;
}

void TMainForm::ShowArchive(const ArchiveFileContents& contents, const QString& path) {
    if (!FileViewShown())
        baseTitle_ = windowTitle();
    session_->ShowFile(contents, path);
    DecodeArchive(contents.image, session_->ChannelCount(), session_->Geometry().recordCount,
                  {&Grid(0), &Grid(1), &Grid(2), &Grid(3)});
    ClearUnusedChannel();
    ShowFileIdentity(contents, path);
    emit ArchiveShown();
}

void TMainForm::ShowFileIdentity(const ArchiveFileContents& contents, const QString& path) {
    // The file's identity goes where an identity read puts it, so that exports read the file.
    SetStatusText(1, contents.identification);
    speSerial->setValue(contents.serial.value_or(1));
    if (contents.address)
        speAddr->setValue(*contents.address);
    edComment->setText(contents.comment);
    const QString name = QFileInfo(path).fileName();
    SetStatusText(0, name);
    setWindowTitle(QStringLiteral("%1 — %2").arg(baseTitle_, name));
}

void TMainForm::ShowControllerIdentity() {
    const JournalIdentity& last = session_->LastRead();
    SetStatusText(1, session_->LastIdentification());
    speSerial->setValue(last.serial.value_or(1));
    speAddr->setValue(last.address.value_or(link_.DeviceAddress));
    edComment->setText(last.comment.value_or(QString()));
    SetStatusText(0, link_.CurrentPortName());
}

void TMainForm::ClearUnusedChannel() {
    if (session_->ChannelCount() < 2)
        ClearChannel(Grid(2), Grid(3));
}

void TMainForm::LeaveFileView() {
    session_->LeaveFileView();
    ClearUnusedChannel();
    // The fields show the controller again, as it was last read.
    ShowControllerIdentity();
    setWindowTitle(baseTitle_);
}

void TMainForm::FindControllerBehindFileView() {
    FindController();
    // The controller found stays behind the file view: the fields and panels show the file again.
    if (const ArchiveFileContents* shown = session_->Shown(); shown && FileViewShown())
        ShowFileIdentity(*shown, session_->ShownPath());
}

void TMainForm::WaitForArchiveSaves() {
    session_->WaitForSaves();
    QCoreApplication::sendPostedEvents(session_.get(), QEvent::MetaCall);
}

void TMainForm::CloseArchiveClick() {
    if (!session_->Shown())
        return;
    if (FileViewShown())
        LeaveFileView();
    session_->CloseShown();
    ClearChannel(Grid(0), Grid(1));
    ClearChannel(Grid(2), Grid(3));
    emit ArchiveClosed();
}
