#pragma once

// The main window's parts for archive files (see MainFormArchive.cpp): the file to show at
// start, the title outside the file view, the dialogs and the menu parts that change. What is
// shown and kept belongs to the session (ServiceSession).

#include "UserDialogs.h"

#include <QPointer>
#include <QString>

class QAction;
class QMenu;

struct ArchiveView {
    QString startPath; // the file to show at start
    QString baseTitle; // the window's title outside the file view

    FileSaveDialog openDialog;
    FileSaveDialog saveDialog;
    QAction* saveAsAction = nullptr;
    QAction* closeAction = nullptr;
    QMenu* recentMenu = nullptr;
    QPointer<QWidget> journalWindow;
};
