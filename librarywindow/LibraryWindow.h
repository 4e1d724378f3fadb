#pragma once

// "Файл" → "Библиотека архивов": one row per controller of the library (serial number, place,
// identification, channels, visits, first and last record, last visit, days lost to overwriting
// highlighted when there are any, conflicts, days until records not yet read are overwritten:
// highlighted at 14 or less, red when already negative), a filter field that narrows the rows as
// one types, and the visits of the controller chosen below. A double click on a visit asks the main
// window to open its file; "История" draws the controller's merged history in a chart window of its
// own; "Добавить архивы…" copies files or folders into the archives folder and indexes them.
//
// The window reads the index on its own thread (a read never waits for a writer in WAL mode);
// every indexing runs on a worker thread with a connection of its own, and the rows are read
// again when it has finished.

#include "LibraryIndex.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class ChartWindow;
class QLabel;
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
};

class LibraryWindow : public QWidget {
    Q_OBJECT

public:
    explicit LibraryWindow(LibraryWindowOptions options, QWidget* parent = nullptr);
    ~LibraryWindow() override; // stops the worker after its current file

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

    // For tests: the views, the filter, the status line, the history window (null until shown),
    // and whether the worker is busy.
    QTableView* Controllers() const { return controllers_; }
    QTableView* Visits() const { return visits_; }
    QLineEdit* Filter() const { return filter_; }
    QLabel* Status() const { return status_; }
    ChartWindow* HistoryWindow() const { return history_; }
    bool Working() const { return working_ > 0; }
    // The serial number of the controller chosen, or -1, and its channel count (a serial number
    // with two channel counts is two controllers).
    int ChosenSerial() const;
    int ChosenChannels() const;

signals:
    // A double click on a visit: the main window opens its file.
    void VisitOpenRequested(const QString& file);
    // Emitted on the window's thread after every job of the worker.
    void WorkDone();

private:
    void ShowVisits();
    void RunJob(std::function<QString(LibraryIndex&)> job);

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
    std::unique_ptr<QThreadPool> worker_;
    std::shared_ptr<std::atomic<bool>> stop_;
    int working_ = 0;
};
