#include "LibraryMenu.h"

#include "LibraryBackground.h"
#include "LibraryWindow.h"
#include "MainForm.h"
#include "SettingsFile.h"
#include "StatusPanels.h"
#include "TeamSync.h"
#include "UserFolders.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace {

// [Library] Server=: the team library's libpq connection string; empty: no server.
QString LibraryServer(const SettingsFile* settings) {
    return settings ? settings->ReadString(QStringLiteral("Library"), QStringLiteral("Server"), {})
                          .trimmed()
                    : QString();
}

class LibraryMenu : public QObject {
public:
    explicit LibraryMenu(TMainForm& form)
        : QObject(&form), form_(form),
          background_(std::make_unique<LibraryBackground>(LibraryIndexPath(), ArchivesFolder())) {
        auto* action = new QAction(QStringLiteral("&Библиотека архивов"), form.FileMenu);
        action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
        // Below the archive files' entries, above the journal.
        const QList<QAction*> actions = form.FileMenu->actions();
        QAction* before = actions.size() > 4 ? actions[4] : nullptr;
        form.FileMenu->insertAction(before, action);
        form.addAction(action); // the shortcut works wherever the focus is in the window
        connect(action, &QAction::triggered, this,
                [this] { form_.RunHandler([this] { Show(); }); });
        // Each kept download is indexed, and synced when a server is set, off this thread.
        connect(&form.Session(), &ServiceSession::SaveFinished, this,
                [this](const QString& path, const QString& error) {
                    if (error.isEmpty())
                        background_->AddKept(
                            path, LibraryServer(form_.Settings()), [this](const QString& failure) {
                                // From the library's thread to the window's.
                                QMetaObject::invokeMethod(
                                    this, [this, failure] { form_.StatusBar->ShowNotice(failure); },
                                    Qt::QueuedConnection);
                            });
                });
        background_->CatchUp(); // the first start indexes every file already kept
    }

private:
    void Show() {
        if (!window_) {
            LibraryWindowOptions options;
            options.indexPath = LibraryIndexPath();
            options.archivesFolder = ArchivesFolder();
            // The fleet's collection keeps what it reads where the command line's does.
            options.fleet.listPath = FleetListPath();
            options.fleet.places.archivesFolder = options.archivesFolder;
            options.fleet.places.stateFolder = StateFolder();
            options.fleet.places.libraryIndexPath = options.indexPath;
            options.fleet.places.server = LibraryServer(form_.Settings());
            options.fleet.server = options.fleet.places.server;
            options.fleet.ports = [this] { return form_.Link().Ports(); };
            if (const SettingsFile* settings = form_.Settings()) {
                options.fleet.speed = settings->ReadInteger(QStringLiteral("General"),
                                                            QStringLiteral("COM speed"), 115200);
                options.fleet.leaseSeconds =
                    settings->ReadInteger(QStringLiteral("Library"), QStringLiteral("Fleet lease"),
                                          DefaultFleetLeaseSeconds);
            }
            if (const QString server = LibraryServer(form_.Settings()); !server.isEmpty())
                options.sync = [server, folder = options.archivesFolder](LibraryIndex& index) {
                    return FormatSyncReport(SyncWithServer(index, folder, server));
                };
            window_ = new LibraryWindow(std::move(options), &form_);
            connect(window_, &LibraryWindow::VisitOpenRequested, this, [this](const QString& file) {
                form_.RunGuarded([this, file] { form_.OpenArchiveFile(file); });
                form_.activateWindow();
                form_.raise();
            });
            window_->CatchUp();
        }
        window_->show();
        window_->raise();
        window_->activateWindow();
    }

    TMainForm& form_;
    std::unique_ptr<LibraryBackground> background_;
    QPointer<LibraryWindow> window_; // created on first use
};

} // namespace

void AddLibraryMenu(TMainForm& form) {
    new LibraryMenu(form);
}
