#pragma once

// The library window's "Сбор": the fleet list (the file's, or the team server's) with the last
// run's outcomes in words ("новые записи", "весь архив", "не собран: …"; the tab-separated table
// keeps its codes); "Собрать сейчас" collects it off the window's thread as the command line does,
// one row per controller with its state, then the run's table, most urgent first. A row not
// collected, or one 14 days or less from losing records, stands out whole. The days left of a
// controller the run did not read come from the library (SetDueBySerial).
//
// The panel tells its window of news by signals; the list's refusal and skipped lines and a run's
// problems are its note (Note()), which the window shows in its status line. Nothing throws out
// of it.

#include "FleetList.h"
#include "FleetRun.h"
#include "FleetWorker.h"

#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QStandardItemModel;
class QTableView;
class QThreadPool;

// Where the fleet comes from and how it is collected.
struct LibraryFleetOptions {
    // The list file (empty: no list file), where a collection keeps what it reads (its places:
    // archives, state folder with the lock and the last run, library, server), and the line speed
    // and how many controllers are read at once.
    QString listPath;
    FleetRunPlaces places;
    int speed = 115200;
    int jobs = 8;
    // The port map "COM<n>" in the list goes through, asked when a collection starts (a port
    // numbered meanwhile counts); null: every number is the machine's.
    std::function<PortMap()> ports;
    // The team's server (a libpq string; empty: none). When it holds a fleet list, that list is
    // shown instead of the file's, and a collection shares the server's run with the other
    // collectors (each controller claimed there, for leaseSeconds at a time).
    QString server;
    int leaseSeconds = DefaultFleetLeaseSeconds;
};

class LibraryFleetPanel : public QWidget {
    Q_OBJECT

public:
    // Hidden when there is neither a list file nor a server. Reads the list, and asks the server
    // for its own off the window's thread.
    explicit LibraryFleetPanel(LibraryFleetOptions options, QWidget* parent = nullptr);
    // Stops a collection and waits for it and for the server's list.
    ~LibraryFleetPanel() override;

    // "Собрать сейчас": collects the fleet list read again, off the window's thread.
    void CollectFleet();
    // Cancels a collection and waits for its reads to stop.
    void Stop();
    bool Collecting() const;
    // The list's refusal and skipped lines, the last run's problems (empty: nothing to say).
    const QString& Note() const { return fleetNote_; }
    // Days left of each controller of the library (by serial number), for the rows that have
    // none of their own.
    void SetDueBySerial(std::map<int, std::optional<qint64>> dueBySerial);
    // The rows again, unless a collection is running.
    void ShowFleet();

    // The fleet's table (port, address, name, state, serial number, days left) and its button.
    QTableView* Fleet() const { return fleet_; }
    QPushButton* CollectButton() const { return collectButton_; }

signals:
    // News the library's table shows too (a collection ended, a list with nothing to collect).
    void FleetChanged();
    // A collection started here has ended (its table is shown).
    void CollectionDone();
    // Collecting() or Note() changed outside FleetChanged: the status line shows them again.
    void NoteChanged();

private:
    void ConnectCollector();
    void CollectionFinished(); // the collection's table and notes, the controllers again
    void ReadFleet();
    // Asks the team's server for its list off the window's thread, then shows it.
    void FetchServerFleet();
    bool TeamFleet() const { return serverFleet_.has_value(); }
    void ShowCollectorRows(); // the collection's rows as they stand
    void FitFleetColumns();
    // failed: the controller was not collected (the row is marked, as one losing records soon).
    void ShowFleetRow(int row, const FleetEntry& entry, const QString& state, bool failed,
                      std::optional<std::uint16_t> serial, std::optional<qint64> overwriteFrom);

    LibraryFleetOptions options_;
    QPushButton* collectButton_ = nullptr;
    QLabel* fleetSource_ = nullptr;
    QTableView* fleet_ = nullptr;
    QStandardItemModel* fleetModel_ = nullptr;
    FleetList fleetList_;
    // The server's list as last fetched, when it has one; none: the file's list is shown.
    std::optional<FleetList> serverFleet_;
    QString serverFleetNote_; // why the server's list could not be read
    QString fleetNote_;       // the list's refusal or skipped lines, the last run's problems
    FleetWorker* collector_ = nullptr;
    bool collected_ = false; // a collection ran here: its table is shown
    std::map<int, std::optional<qint64>> dueBySerial_;
    std::unique_ptr<QThreadPool> fleetFetcher_; // the server's fleet list
};
