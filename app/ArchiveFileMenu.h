#pragma once

// The main window's entries for archive files: "Файл" → "Открыть архив…", "Сохранить архив
// как…", "Закрыть архив", "Последние архивы", "Журнал изменений" and "Выход"; "Справка" → "О
// программе"; and the outcome of keeping each download (its file in the recent list, or one
// message when it could not be written). The file view itself (what the grids and fields show)
// is the window's.

#include "UserDialogs.h"

#include <QObject>
#include <QPointer>

class QAction;
class QMenu;
class TMainForm;

class ArchiveFileMenu : public QObject {
public:
    // Adds the entries to the window's menus; a child of the window.
    explicit ArchiveFileMenu(TMainForm& form);

private:
    void Open();
    void SaveAs();
    void RebuildRecent();
    void ShowJournal();
    void About();
    // A kept download's file is written (error empty) or could not be.
    void KeptDownloadSaved(const QString& path, const QString& error);
    void UpdateActions();

    TMainForm& form_;
    FileSaveDialog openDialog_;
    FileSaveDialog saveDialog_;
    QAction* saveAs_ = nullptr;
    QAction* close_ = nullptr;
    QMenu* recent_ = nullptr;
    QPointer<QWidget> journalWindow_;
};
