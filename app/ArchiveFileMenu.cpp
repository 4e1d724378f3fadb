#include "ArchiveFileMenu.h"

#include "ArchiveSaveName.h"
#include "IdentityJournal.h"
#include "MainForm.h"
#include "RecentArchives.h"
#include "SettingsFile.h"
#include "UserFolders.h"
#include "Version.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QMenu>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

const QString kArchiveFilter = QStringLiteral("Архив КВ-9000Л|*.kvarc|Все файлы|*");

} // namespace

ArchiveFileMenu::ArchiveFileMenu(TMainForm& form) : QObject(&form), form_(form) {
    auto add = [this](QMenu* menu, const QString& text, QKeySequence keys, auto handler,
                      bool guarded) {
        QAction* action = menu->addAction(text);
        action->setShortcut(keys);
        form_.addAction(action); // the shortcut works wherever the focus is in the window
        connect(action, &QAction::triggered, this, [this, handler, guarded] {
            guarded ? form_.RunGuarded(handler) : form_.RunHandler(handler);
        });
        return action;
    };
    add(
        form.FileMenu, QStringLiteral("&Открыть архив…"), QKeySequence(Qt::CTRL | Qt::Key_O),
        [this] { Open(); }, true);
    saveAs_ = add(
        form.FileMenu, QStringLiteral("&Сохранить архив как…"), QKeySequence(Qt::CTRL | Qt::Key_S),
        [this] { SaveAs(); }, true);
    close_ = add(
        form.FileMenu, QStringLiteral("&Закрыть архив"), {}, [this] { form_.CloseArchiveClick(); },
        true);
    recent_ = form.FileMenu->addMenu(QStringLiteral("&Последние архивы"));
    connect(recent_, &QMenu::aboutToShow, this, &ArchiveFileMenu::RebuildRecent);
    form.FileMenu->addSeparator();
    add(
        form.FileMenu, QStringLiteral("&Журнал изменений"), {}, [this] { ShowJournal(); }, false);
    form.FileMenu->addSeparator();
    QAction* exit = form.FileMenu->addAction(QStringLiteral("В&ыход"));
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    form.addAction(exit);
    connect(exit, &QAction::triggered, &form, &QWidget::close); // the same path as closing
    add(
        form.HelpMenu, QStringLiteral("&О программе"), {}, [this] { About(); }, false);

    openDialog_.Filter = kArchiveFilter;
    saveDialog_.Filter = kArchiveFilter;
    saveDialog_.DefaultExt = QStringLiteral("*.kvarc");
    saveDialog_.OverwritePrompt = true;
    connect(&form, &TMainForm::ArchiveShown, this, &ArchiveFileMenu::UpdateActions);
    connect(&form, &TMainForm::ArchiveClosed, this, &ArchiveFileMenu::UpdateActions);
    connect(&form.Session(), &ServiceSession::SaveFinished, this,
            &ArchiveFileMenu::KeptDownloadSaved);
    UpdateActions();
}

void ArchiveFileMenu::UpdateActions() {
    saveAs_->setEnabled(form_.ShownArchive() != nullptr);
    close_->setEnabled(form_.ShownArchive() != nullptr);
}

void ArchiveFileMenu::RebuildRecent() {
    recent_->clear();
    const QStringList recent =
        form_.Settings() ? ReadRecentArchives(*form_.Settings()) : QStringList();
    for (int i = 0; i < recent.size(); ++i) {
        const QString path = recent[i];
        QAction* action = recent_->addAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(QDir::toNativeSeparators(path)));
        connect(action, &QAction::triggered, this,
                [this, path] { form_.RunGuarded([this, path] { form_.OpenArchiveFile(path); }); });
    }
    if (recent.isEmpty())
        recent_->addAction(QStringLiteral("(нет)"))->setEnabled(false);
}

void ArchiveFileMenu::Open() {
    if (!form_.Dialogs().ExecuteOpen(openDialog_))
        return;
    form_.OpenArchiveFile(openDialog_.FileName);
}

void ArchiveFileMenu::KeptDownloadSaved(const QString& path, const QString& error) {
    if (error.isEmpty()) {
        if (form_.Settings())
            AddRecentArchive(*form_.Settings(), path);
        return;
    }
    form_.ShowMessage(QStringLiteral("Загруженный архив не сохранён в файл %1:\n%2.\n"
                                     "Он показан в таблицах; его можно сохранить "
                                     "командой «Файл» → «Сохранить архив как…».")
                          .arg(QDir::toNativeSeparators(path), error),
                      MessageIcon::Error);
}

void ArchiveFileMenu::SaveAs() {
    const ArchiveFileContents* shown = form_.ShownArchive();
    if (!shown)
        return;
    saveDialog_.FileName =
        ProposedArchiveSavePath(ArchivesFolder(), *shown, form_.ShownArchivePath());
    if (!form_.Dialogs().ExecuteSave(saveDialog_))
        return;
    const QString error = WriteArchiveFile(saveDialog_.FileName, *shown);
    if (!error.isEmpty()) {
        form_.ShowMessage(QStringLiteral("Архив не сохранён в файл %1:\n%2.")
                              .arg(QDir::toNativeSeparators(saveDialog_.FileName), error),
                          MessageIcon::Error);
        return;
    }
    if (form_.Settings())
        AddRecentArchive(*form_.Settings(), saveDialog_.FileName);
}

void ArchiveFileMenu::ShowJournal() {
    if (journalWindow_) {
        journalWindow_->raise();
        journalWindow_->activateWindow();
        return;
    }
    QString error;
    const QString text = ReadJournalNewestFirst(IdentityJournalPath(), &error);
    auto* window = new QDialog(&form_);
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
    journalWindow_ = window;
    window->show();
}

void ArchiveFileMenu::About() {
    form_.ShowMessage(QStringLiteral("КВ-9000Л — сервисная программа регулятора\n"
                                     "Версия %1\n\n"
                                     "Лицензия: GNU General Public License версии 3 или более "
                                     "поздней (GPL-3.0-or-later).\n"
                                     "Qt %2\n\n"
                                     "Настройки: %3\n"
                                     "Архивы: %4\n"
                                     "Журнал изменений: %5")
                          .arg(QStringLiteral(KV_VERSION), QString::fromLatin1(qVersion()),
                               QDir::toNativeSeparators(form_.SettingsPath()),
                               QDir::toNativeSeparators(ArchivesFolder()),
                               QDir::toNativeSeparators(IdentityJournalPath())),
                      MessageIcon::Information);
}
