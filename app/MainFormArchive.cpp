// Archive files in the window: keeping every complete download as a file (saved off the
// window's thread), the file view (an archive file shown without the controller), the "Файл"
// menu's archive actions with the recent list, the journal of identity changes and "О программе".

#include "MainForm.h"

#include "ArchiveDecoder.h"
#include "ArchiveSaveName.h"
#include "ArchiveView.h"
#include "Cp1251.h"
#include "FrameLink.h"
#include "IdentityCommands.h"
#include "IdentityJournal.h"
#include "PortMap.h"
#include "RecentArchives.h"
#include "ServiceSession.h"
#include "SettingsFile.h"
#include "SpinEdit.h"
#include "StatusPanels.h"
#include "StringGrid.h"
#include "TextGrid.h"
#include "UserFolders.h"
#include "Version.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr int kDataGridRows = 4220; // rows of an empty data grid, as the window starts

const QString kArchiveFilter = QStringLiteral("Архив КВ-9000Л|*.kvarc|Все файлы|*");

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

void TMainForm::AddArchiveMenus() {
    auto add = [this](QMenu* menu, const QString& text, QKeySequence keys,
                      void (TMainForm::*handler)(), bool guarded) {
        QAction* action = menu->addAction(text);
        action->setShortcut(keys);
        addAction(action); // the shortcut works wherever the focus is in the window
        connect(action, &QAction::triggered, this,
                [this, handler, guarded] { guarded ? RunGuarded(handler) : RunHandler(handler); });
        return action;
    };
    add(FileMenu, QStringLiteral("&Открыть архив…"), QKeySequence(Qt::CTRL | Qt::Key_O),
        &TMainForm::OpenArchiveClick, true);
    archive_->saveAsAction =
        add(FileMenu, QStringLiteral("&Сохранить архив как…"), QKeySequence(Qt::CTRL | Qt::Key_S),
            &TMainForm::SaveArchiveAsClick, true);
    archive_->closeAction =
        add(FileMenu, QStringLiteral("&Закрыть архив"), {}, &TMainForm::CloseArchiveClick, true);
    archive_->recentMenu = FileMenu->addMenu(QStringLiteral("&Последние архивы"));
    connect(archive_->recentMenu, &QMenu::aboutToShow, this, &TMainForm::RebuildRecentMenu);
    FileMenu->addSeparator();
    add(FileMenu, QStringLiteral("&Журнал изменений"), {}, &TMainForm::ShowIdentityJournalClick,
        false);
    FileMenu->addSeparator();
    QAction* exit = FileMenu->addAction(QStringLiteral("В&ыход"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    addAction(exit);
    connect(exit, &QAction::triggered, this, &QWidget::close); // the same path as closing
    add(HelpMenu, QStringLiteral("&О программе"), {}, &TMainForm::AboutClick, false);

    archive_->openDialog.Filter = kArchiveFilter;
    archive_->saveDialog.Filter = kArchiveFilter;
    archive_->saveDialog.DefaultExt = QStringLiteral("*.kvarc");
    archive_->saveDialog.OverwritePrompt = true;
    UpdateArchiveActions();
}

void TMainForm::UpdateArchiveActions() {
    archive_->saveAsAction->setEnabled(session_->Shown() != nullptr);
    archive_->closeAction->setEnabled(session_->Shown() != nullptr);
}

void TMainForm::RebuildRecentMenu() {
    QMenu* menu = archive_->recentMenu;
    menu->clear();
    const QStringList recent = settings_ ? ReadRecentArchives(*settings_) : QStringList();
    for (int i = 0; i < recent.size(); ++i) {
        const QString path = recent[i];
        QAction* action = menu->addAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(path)));
        connect(action, &QAction::triggered, this, [this, path] {
            if (busy_ || closing_)
                return;
            busy_ = true;
            OpenArchiveFile(path);
            busy_ = false;
        });
    }
    if (recent.isEmpty())
        menu->addAction(QStringLiteral("(нет)"))->setEnabled(false);
}

void TMainForm::OpenArchiveClick() {
    if (!Dialogs().ExecuteOpen(archive_->openDialog))
        return;
    OpenArchiveFile(archive_->openDialog.FileName);
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
        archive_->baseTitle = windowTitle();
    session_->ShowFile(contents, path);
    DecodeArchive(contents.image, session_->ChannelCount(), session_->Geometry().recordCount,
                  {&Grid(0), &Grid(1), &Grid(2), &Grid(3)});
    ClearUnusedChannel();
    ShowFileIdentity(contents, path);
    UpdateArchiveActions();
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
    setWindowTitle(QStringLiteral("%1 — %2").arg(archive_->baseTitle, name));
}

void TMainForm::ShowControllerIdentity() {
    const JournalIdentity& last = session_->LastRead();
    SetStatusText(1, session_->LastIdentification());
    speSerial->setValue(last.serial.value_or(1));
    speAddr->setValue(last.address.value_or(DeviceAddress));
    edComment->setText(last.comment.value_or(QString()));
    SetStatusText(0, CurrentPortName());
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
    setWindowTitle(archive_->baseTitle);
}

void TMainForm::FindControllerBehindFileView() {
    FindController();
    // The controller found stays behind the file view: the fields and panels show the file again.
    if (const ArchiveFileContents* shown = session_->Shown(); shown && FileViewShown())
        ShowFileIdentity(*shown, session_->ShownPath());
}

void TMainForm::KeptDownloadSaved(const QString& path, const QString& error) {
    if (error.isEmpty()) {
        if (settings_)
            AddRecentArchive(*settings_, path);
        AddToLibrary(path); // indexed, and synced when a server is set, off this thread
        return;
    }
    ShowMessage(QStringLiteral("Загруженный архив не сохранён в файл %1:\n%2.\n"
                               "Он показан в таблицах; его можно сохранить "
                               "командой «Файл» → «Сохранить архив как…».")
                    .arg(QDir::toNativeSeparators(path), error),
                MessageIcon::Error);
}

void TMainForm::WaitForArchiveSaves() {
    session_->WaitForSaves();
    QCoreApplication::sendPostedEvents(session_.get(), QEvent::MetaCall);
}

void TMainForm::SaveArchiveAsClick() {
    if (!session_->Shown())
        return;
    FileSaveDialog& dialog = archive_->saveDialog;
    dialog.FileName =
        ProposedArchiveSavePath(ArchivesFolder(), *session_->Shown(), session_->ShownPath());
    if (!Dialogs().ExecuteSave(dialog))
        return;
    const QString error = WriteArchiveFile(dialog.FileName, *session_->Shown());
    if (!error.isEmpty()) {
        ShowMessage(QStringLiteral("Архив не сохранён в файл %1:\n%2.")
                        .arg(QDir::toNativeSeparators(dialog.FileName), error),
                    MessageIcon::Error);
        return;
    }
    if (settings_)
        AddRecentArchive(*settings_, dialog.FileName);
}

void TMainForm::CloseArchiveClick() {
    if (!session_->Shown())
        return;
    if (FileViewShown())
        LeaveFileView();
    session_->CloseShown();
    ClearChannel(Grid(0), Grid(1));
    ClearChannel(Grid(2), Grid(3));
    UpdateArchiveActions();
}

void TMainForm::ShowIdentityJournalClick() {
    if (archive_->journalWindow) {
        archive_->journalWindow->raise();
        archive_->journalWindow->activateWindow();
        return;
    }
    QString error;
    const QString text = ReadJournalNewestFirst(IdentityJournalPath(), &error);
    auto* window = new QDialog(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setObjectName(QStringLiteral("IdentityJournal"));
    window->setWindowTitle(QStringLiteral("Журнал изменений — %1")
                               .arg(QDir::toNativeSeparators(IdentityJournalPath())));
    auto* view = new QPlainTextEdit(window);
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::NoWrap);
    if (!error.isEmpty())
        view->setPlainText(QStringLiteral("Журнал не читается: %1").arg(error));
    else if (text.isEmpty())
        view->setPlainText(QStringLiteral("Изменений ещё не было."));
    else
        view->setPlainText(text);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(view);
    window->resize(900, 400);
    archive_->journalWindow = window;
    window->show();
}

void TMainForm::AboutClick() {
    ShowMessage(QStringLiteral("КВ-9000Л — сервисная программа регулятора\n"
                               "Версия %1\n\n"
                               "Лицензия: GNU General Public License версии 3 или более поздней "
                               "(GPL-3.0-or-later).\n"
                               "Qt %2\n\n"
                               "Настройки: %3\n"
                               "Архивы: %4\n"
                               "Журнал изменений: %5")
                    .arg(QStringLiteral(KV_VERSION), QString::fromLatin1(qVersion()),
                         QDir::toNativeSeparators(settingsPath_),
                         QDir::toNativeSeparators(ArchivesFolder()),
                         QDir::toNativeSeparators(IdentityJournalPath())),
                MessageIcon::Information);
}
