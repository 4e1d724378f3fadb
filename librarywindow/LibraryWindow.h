#pragma once

// "Файл" → "Библиотека архивов": one row per controller of the library (serial number, place,
// identification, channels, visits, first and last record, last visit, days lost to overwriting
// highlighted when there are any, conflicts, days until records not yet read are overwritten:
// highlighted at 14 or less, red when already negative), a filter field that narrows the rows as
// one types, and the visits of the controller chosen below. A double click on a visit asks the main
// window to open its file; "История" draws the controller's merged history in a chart window of its
// own; "Добавить архивы…" copies files or folders into the archives folder and indexes them.
//
// Beside the controllers, "Сбор" shows the fleet list and collects it (LibraryFleetPanel.h); its
// rows take the library's days left of the controllers they have none for. Closing the window
// while collecting cancels the collection and waits for its reads to stop.
//
// The window reads the index on its own thread (a read never waits for a writer in WAL mode);
// every indexing runs on a worker thread with a connection of its own, and the rows are read
// again when it has finished.
//
// How the library window (librarywindow/) reports a failure: in its status line, never in a
// message box: an index that does not open, a read that fails, an import's or a sync's refusals
// (each file with its cause) are the library's own Russian causes. The fleet list's refusal and
// skipped lines and a run's problems are notes under the count of controllers, and a controller
// not collected is its row marked, with its outcome in words. Nothing throws out of it.

#include "FleetRun.h"
#include "FleetWorker.h"
#include "LibraryFleetPanel.h"
#include "LibraryIndex.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class ChartWindow;
class LibraryFleetPanel;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;
class QThreadPool;

struct LibraryWindowOptions {
    QString indexPath;
    QString archivesFolder;
    // Asks for files or folders to add; empty: nothing chosen. Null: the Qt file dialog.
    std::function<QStringList(QWidget* parent)> choosePaths;
    // "Синхронизировать": runs on the worker thread with its connection to the index and
    // returns the text to show. Null: no server is set, and nothing about one is shown.
    std::function<QString(LibraryIndex&)> sync;

    // The fleet beside the controllers: its list, how it is collected and where that is kept
    // (no list file and no server: no fleet is shown).
    LibraryFleetOptions fleet;
};

class LibraryWindow : public QWidget {
    Q_OBJECT

public:
    explicit LibraryWindow(LibraryWindowOptions options, QWidget* parent = nullptr);
    // Stops a collection and the worker (after its current file) and waits for both.
    ~LibraryWindow() override;

    // Reads the controllers (and the visits of the one chosen) from the index again.
    void Reload();
    // Indexes paths on the worker thread (copied into the archives folder), then reloads.
    void AddPaths(const QStringList& paths);
    // Indexes the archives folder's files not yet in the index on the worker thread.
    void CatchUp();
    // Draws the chosen controller's merged history.
    void ShowHistory();
    // Runs the sync hook on the worker thread, then reloads.
    void Synchronize();
    // "Собрать сейчас": collects the fleet list read again, off the window's thread.
    void CollectFleet();

    // For tests: the views, the filter, the status line, the history window (null until shown),
    // and whether the worker is busy.
    QTableView* Controllers() const { return controllers_; }
    QTableView* Visits() const { return visits_; }
    QLineEdit* Filter() const { return filter_; }
    QLabel* Status() const { return status_; }
    ChartWindow* HistoryWindow() const { return history_; }
    bool Working() const { return working_ > 0; }
    // The fleet's table (port, address, name, state, serial number, days left) and its button,
    // and whether a collection runs.
    QTableView* Fleet() const;
    QPushButton* CollectButton() const;
    bool Collecting() const;
    // The serial number of the controller chosen, or -1, and its channel count (a serial number
    // with two channel counts is two controllers).
    int ChosenSerial() const;
    int ChosenChannels() const;

signals:
    // A double click on a visit: the main window opens its file.
    void VisitOpenRequested(const QString& file);
    // Emitted on the window's thread after every job of the worker.
    void WorkDone();
    // A collection started in this window has ended (its table is shown).
    void CollectionDone();

protected:
    void closeEvent(QCloseEvent* event) override; // cancels a collection and waits for it

private:
    QLayout* BuildTopRow();
    QWidget* BuildControllerViews();
    LibraryFleetPanel* BuildFleetPanel();
    void ShowVisits();
    void RunJob(std::function<QString(LibraryIndex&)> job);
    QString StatusText(std::size_t controllers) const;

    LibraryWindowOptions options_;
    std::unique_ptr<LibraryIndex> index_;
    QString indexError_;
    QLineEdit* filter_ = nullptr;
    QPushButton* historyButton_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* syncButton_ = nullptr;
    QTableView* controllers_ = nullptr;
    QTableView* visits_ = nullptr;
    QLabel* status_ = nullptr;
    QStandardItemModel* controllerModel_ = nullptr;
    QSortFilterProxyModel* filterModel_ = nullptr;
    QStandardItemModel* visitModel_ = nullptr;
    ChartWindow* history_ = nullptr;
    // The controllers as the index last gave them (the history's title is taken from here,
    // never read back out of the table).
    std::vector<LibraryController> controllerList_;
    LibraryFleetPanel* fleetPanel_ = nullptr;
    std::unique_ptr<QThreadPool> worker_;
    std::shared_ptr<std::atomic<bool>> stop_;
    int working_ = 0;
};
