#pragma once

// What the main window keeps about archives (see MainFormArchive.cpp): the archive shown and
// where it came from, the controller behind a file view, the identity as the controller last
// delivered it, the automatic saves on their way to the disk, and the menu parts that change.

#include "ArchiveFile.h"
#include "IdentityJournal.h"
#include "UserDialogs.h"

#include <QPointer>
#include <QStringList>
#include <QThreadPool>

#include <optional>

class QAction;
class QMenu;

struct ArchiveView {
    ArchiveView() { saver.setMaxThreadCount(1); }

    std::optional<ArchiveFileContents> shown;
    QString shownPath; // not empty: the file view, showing this file
    QString startPath; // the file to show at start
    QString baseTitle; // the window's title outside the file view
    // The controller's channel count while the file view hides it.
    int controllerChannels = 0;
    // The identity as the controller last delivered it; the identification text is what the
    // read left in status panel 1.
    JournalIdentity lastRead;
    QString lastIdentification;

    // One thread: automatic saves are written in the order of the downloads, off the window's
    // thread. Its destruction waits for them.
    QThreadPool saver;

    FileSaveDialog openDialog;
    FileSaveDialog saveDialog;
    QAction* saveAsAction = nullptr;
    QAction* closeAction = nullptr;
    QMenu* recentMenu = nullptr;
    QPointer<QWidget> journalWindow;
};
