// Archive files in the window: keeping every complete download as a file (saved off the
// window's thread), the file view (an archive file shown without the controller), the "Файл"
// menu's archive actions with the recent list, the journal of identity changes and "О программе".

#include "MainForm.h"

#include "ArchiveDecoder.h"
#include "ArchiveGeometry.h"
#include "ArchiveView.h"
#include "Cp1251.h"
#include "FrameLink.h"
#include "IdentityCommands.h"
#include "PortMap.h"
#include "RecentArchives.h"
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

QString StepText(IdentityStep step, const QByteArray& error) {
    switch (step) {
    case IdentityStep::Written:
        return QStringLiteral("written");
    case IdentityStep::Skipped:
        return QStringLiteral("skipped");
    case IdentityStep::Failed:
        return QString::fromLatin1(error);
    case IdentityStep::NotTried:
        break;
    }
    return QStringLiteral("not tried");
}

// Nothing of another archive stays on the second channel's page.
void ClearChannelTwo(TextGrid& data, TextGrid& settings) {
    data.BeginUpdate();
    data.SetRowCount(1);
    data.SetRowCount(kDataGridRows);
    data.EndUpdate();
    for (int row = 1; row < settings.RowCount(); ++row)
        settings.ClearRow(row);
}

QString CurrentPortName() {
    return CurrentPort() > 0 ? PortName(CurrentPort()) : QString();
}

} // namespace

const ArchiveFileContents* TMainForm::ShownArchive() const {
    return archive_->shown ? &*archive_->shown : nullptr;
}

QString TMainForm::ShownArchivePath() const {
    return archive_->shownPath;
}

bool TMainForm::FileViewShown() const {
    return !archive_->shownPath.isEmpty();
}

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
    archive_->saveAsAction->setEnabled(archive_->shown.has_value());
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
    if (!FileViewShown()) {
        archive_->controllerChannels = ChannelCount;
        archive_->baseTitle = windowTitle();
    }
    ChannelCount = contents.channelCount;
    const ArchiveGeometry geometry = GeometryFor(ChannelCount);
    ChannelBlockSize = geometry.channelBlockSize;
    RecordAreaSize = geometry.recordAreaSize;
    RecordCount = geometry.recordCount;
    DecodeArchive(contents.image, ChannelCount, RecordCount,
                  {&Grid(0), &Grid(1), &Grid(2), &Grid(3)});
    if (ChannelCount < 2)
        ClearChannelTwo(Grid(2), Grid(3));
    // The file's identity goes where an identity read puts it, so that exports read the file.
    SetStatusText(1, contents.identification);
    speSerial->setValue(contents.serial.value_or(1));
    if (contents.address)
        speAddr->setValue(*contents.address);
    edComment->setText(contents.comment);
    const QString name = QFileInfo(path).fileName();
    SetStatusText(0, name);
    setWindowTitle(QStringLiteral("%1 — %2").arg(archive_->baseTitle, name));

    archive_->shown = contents;
    archive_->shownPath = path;
    UpdateArchiveActions();
    emit ArchiveShown();
}

void TMainForm::LeaveFileView() {
    ChannelCount = archive_->controllerChannels;
    const ArchiveGeometry geometry = GeometryFor(ChannelCount);
    ChannelBlockSize = geometry.channelBlockSize;
    RecordAreaSize = geometry.recordAreaSize;
    RecordCount = geometry.recordCount;
    if (ChannelCount < 2)
        ClearChannelTwo(Grid(2), Grid(3));
    // The fields show the controller again, as it was last read.
    const JournalIdentity& last = archive_->lastRead;
    SetStatusText(1, archive_->lastIdentification);
    speSerial->setValue(last.serial.value_or(1));
    speAddr->setValue(last.address.value_or(DeviceAddress));
    edComment->setText(last.comment.value_or(QString()));
    SetStatusText(0, CurrentPortName());
    setWindowTitle(archive_->baseTitle);
    archive_->shownPath.clear();
}

void TMainForm::FindControllerBehindFileView() {
    if (!FileViewShown()) {
        FindController();
        return;
    }
    // The controller found stays behind the file view: what the search writes into the fields
    // and panels is put back, its channel count kept for when the view is left.
    const int channels = ChannelCount;
    const QString panel0 = StatusText(0);
    const QString panel1 = StatusText(1);
    const int serial = speSerial->value();
    const int address = speAddr->value();
    const QString comment = edComment->text();
    FindController();
    archive_->controllerChannels = ChannelCount;
    ChannelCount = channels;
    const ArchiveGeometry geometry = GeometryFor(ChannelCount);
    ChannelBlockSize = geometry.channelBlockSize;
    RecordAreaSize = geometry.recordAreaSize;
    RecordCount = geometry.recordCount;
    SetStatusText(0, panel0);
    SetStatusText(1, panel1);
    speSerial->setValue(serial);
    speAddr->setValue(address);
    edComment->setText(comment);
}

void TMainForm::KeepDownload(const QByteArray& image) {
    ArchiveFileContents contents;
    contents.channelCount = ChannelCount;
    contents.serial = archive_->lastRead.serial;
    contents.address = archive_->lastRead.address;
    contents.identification = archive_->lastIdentification;
    contents.comment = archive_->lastRead.comment.value_or(QString());
    contents.port = CurrentPortName();
    contents.downloadedAt = QDateTime::currentDateTime();
    contents.image = image;
    archive_->shown = contents;
    archive_->shownPath.clear();
    UpdateArchiveActions();
    emit ArchiveShown();

    // A save still on its way holds its name although its file does not exist yet.
    const QString path = AutoSavePath(ArchivesFolder(), contents, archive_->pendingSaves);
    archive_->pendingSaves << path;
    archive_->saver.start([this, path, contents] {
        const QString error = WriteArchiveFile(path, contents);
        // The window waits for this thread before it goes (WaitForArchiveSaves, ~ArchiveView).
        QMetaObject::invokeMethod(
            this,
            [this, path, error] {
                archive_->pendingSaves.removeAll(path);
                if (error.isEmpty()) {
                    if (settings_)
                        AddRecentArchive(*settings_, path);
                    AddToLibrary(path); // indexed (and synced) off this thread
                    return;
                }
                ShowMessage(QStringLiteral("Загруженный архив не сохранён в файл %1:\n%2.\n"
                                           "Он показан в таблицах; его можно сохранить "
                                           "командой «Файл» → «Сохранить архив как…».")
                                .arg(QDir::toNativeSeparators(path), error),
                            MessageIcon::Error);
            },
            Qt::QueuedConnection);
    });
}

void TMainForm::WaitForArchiveSaves() {
    archive_->saver.waitForDone();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void TMainForm::SaveArchiveAsClick() {
    if (!archive_->shown)
        return;
    FileSaveDialog& dialog = archive_->saveDialog;
    if (dialog.FileName.isEmpty())
        dialog.FileName = QFileInfo(AutoSavePath(QDir::homePath(), *archive_->shown)).fileName();
    if (!Dialogs().ExecuteSave(dialog))
        return;
    const QString error = WriteArchiveFile(dialog.FileName, *archive_->shown);
    if (!error.isEmpty()) {
        ShowMessage(QStringLiteral("Архив не сохранён в файл %1:\n%2.")
                        .arg(QDir::toNativeSeparators(dialog.FileName), error),
                    MessageIcon::Error);
        return;
    }
    if (settings_)
        AddRecentArchive(*settings_, dialog.FileName);
}

void TMainForm::JournalIdentityChange(const IdentityChange& change, const IdentityWriteSteps* steps,
                                      const QByteArray& error) {
    IdentityJournalEntry entry;
    entry.when = QDateTime::currentDateTime();
    entry.user = LoginName();
    entry.port = CurrentPortName();
    entry.before = archive_->lastRead;
    entry.after.serial = change.serial;
    entry.after.address = change.address;
    entry.after.comment = FromCp1251(change.comment);
    const QString refused = QStringLiteral("refused");
    entry.addressStep = steps ? StepText(steps->address, error) : refused;
    entry.serialStep = steps ? StepText(steps->serial, error) : refused;
    entry.commentStep = steps ? StepText(steps->comment, error) : refused;
    const QString failure = AppendJournalLine(IdentityJournalPath(), FormatJournalLine(entry));
    if (!failure.isEmpty())
        StatusBar->ShowNotice(QStringLiteral("Журнал изменений не записан (%1): %2")
                                  .arg(QDir::toNativeSeparators(IdentityJournalPath()), failure));
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
