#pragma once

// Collect on call: a modem of the fleet that calls in (or stays on the line) while its
// controller's newest kept download is older than the settings' "Collect after" hours, by this
// computer's clock, is collected then, as --collect collects it (its new records, or the whole
// archive on any doubt), so that modems that call only now and then are still read. One
// collection at a time, off the listener's thread; a controller already due is not asked twice;
// while another collection runs on this machine the due ones wait for it to end. With the team's
// server, a controller another collector reads, or has read in tonight's run, is not read again.

#include "FleetCollection.h"
#include "FleetRun.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <set>
#include <thread>
#include <vector>

class CollectOnCall : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;
    // entries: the fleet's dial-in lines, asked again at each call. With places.server set, each
    // controller is claimed in the team's run first (TeamFleet.h), for the lease's seconds.
    CollectOnCall(int afterHours, FleetOptions options, FleetRunPlaces places,
                  std::function<std::vector<FleetEntry>()> entries, Log log,
                  QObject* parent = nullptr);
    ~CollectOnCall() override;
    void SetLease(int seconds) { leaseSeconds_ = seconds; }

    // The modem with this ID is on the line.
    void Called(const QString& id);
    // Whether the controller of this line is due: no kept download of it, or the newest older
    // than the hours allowed.
    bool Due(const FleetEntry& entry) const;
    int Collections() const { return collections_; }

signals:
    void Finished(const FleetRunOutcome& outcome);

private:
    void RunNext();
    // On the worker: the entries read, through the team server's claims when one is set.
    FleetRunOutcome Collect(const std::vector<FleetEntry>& entries);
    void Done(const FleetRunOutcome& outcome);

    int afterHours_;
    int leaseSeconds_ = 300;
    FleetOptions options_;
    FleetRunPlaces places_;
    std::function<std::vector<FleetEntry>()> entries_;
    Log log_;
    std::set<QString> due_;
    std::set<QString> inFlight_; // the IDs the collection under way reads
    std::thread worker_;
    bool running_ = false;
    int collections_ = 0;
    QTimer retry_;
};
