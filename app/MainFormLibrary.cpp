// The library of every visit in the window: "Файл" → "Библиотека архивов" (Ctrl+L), the
// archives folder indexed at start, and each kept download added as it is saved, all off the
// window's thread.

#include "MainForm.h"

#include "LibraryBackground.h"
#include "LibraryWindow.h"
#include "SettingsFile.h"
#include "TeamSync.h"
#include "UserFolders.h"

#include <QAction>
#include <QMenu>

void TMainForm::AddLibraryMenu() {
    QAction* action = new QAction(QStringLiteral("&Библиотека архивов"), FileMenu);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    // Below the archive files' entries, above the journal.
    const QList<QAction*> actions = FileMenu->actions();
    QAction* before = actions.size() > 4 ? actions[4] : nullptr;
    FileMenu->insertAction(before, action);
    addAction(action); // the shortcut works wherever the focus is in the window
    connect(action, &QAction::triggered, this,
            [this] { RunHandler(&TMainForm::ShowLibraryClick); });

    libraryBackground_ = std::make_shared<LibraryBackground>(LibraryIndexPath(), ArchivesFolder());
    libraryBackground_->CatchUp(); // the first start indexes every file already kept
}

namespace {

// [Library] Server=: the team library's libpq connection string; empty: no server.
QString LibraryServer(const SettingsFile* settings) {
    return settings ? settings->ReadString(QStringLiteral("Library"), QStringLiteral("Server"), {})
                          .trimmed()
                    : QString();
}

} // namespace

void TMainForm::ShowLibraryClick() {
    if (!libraryWindow_) {
        LibraryWindowOptions options;
        options.indexPath = LibraryIndexPath();
        options.archivesFolder = ArchivesFolder();
        if (const QString server = LibraryServer(settings_.get()); !server.isEmpty())
            options.sync = [server, folder = options.archivesFolder](LibraryIndex& index) {
                return FormatSyncReport(SyncWithServer(index, folder, server));
            };
        auto* window = new LibraryWindow(std::move(options), this);
        connect(window, &LibraryWindow::VisitOpenRequested, this, [this](const QString& file) {
            if (busy_ || closing_)
                return;
            busy_ = true;
            OpenArchiveFile(file);
            busy_ = false;
            activateWindow();
            raise();
        });
        window->CatchUp();
        libraryWindow_ = window;
    }
    libraryWindow_->show();
    libraryWindow_->raise();
    libraryWindow_->activateWindow();
}

void TMainForm::AddToLibrary(const QString& keptFile) {
    if (libraryBackground_)
        libraryBackground_->AddKept(keptFile, LibraryServer(settings_.get()));
}
