#pragma once

// A collection off the caller's thread, for a window: RunFleetCollection on a thread of its own
// (of the team server's list, sharing its run with the other collectors, when one is given),
// its news carried back to the thread that owns this object as one state a controller:
// "ожидает", "читается N%", "попытка N" (and "попытка N, читается N%"), then the outcome in words
// (FleetOutcomeWords).
// Stop() cancels the run and waits for its thread: each read stops within a block and keeps
// nothing, what was completed stays kept.
//
// Failures are results: a refusal or the controllers' failures are in Outcome().

#include "FleetRun.h"
#include "TeamFleet.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

struct FleetRowState {
    QString text;
    bool finished = false;
    std::optional<FleetResult> result; // once finished
};

// The state a controller's row shows after each hook of the collection.
class FleetRowStates {
public:
    explicit FleetRowStates(std::size_t count = 0)
        : rows_(count, {QStringLiteral("ожидает"), false, std::nullopt}) {}
    void Started(int index, int tryNumber);
    void Blocks(int index, int done, int total);
    void Finished(int index, const FleetResult& result);
    const std::vector<FleetRowState>& Rows() const { return rows_; }

private:
    std::vector<FleetRowState> rows_;
    std::vector<int> tries_ = std::vector<int>(rows_.size(), 1);
};

// The team's server whose list is collected, each controller claimed there (TeamFleet.h).
struct FleetTeam {
    QString server;
    int leaseSeconds = DefaultFleetLeaseSeconds;
};

class FleetWorker : public QObject {
    Q_OBJECT

public:
    explicit FleetWorker(QObject* parent = nullptr);
    ~FleetWorker() override; // Stop()

    // Starts the collection of entries; false (and nothing started) while one runs. With a
    // team, entries are the server's list as read on the collection's thread (ListRead), and only
    // the controllers this collector claims change their rows.
    bool Start(std::vector<FleetEntry> entries, FleetOptions options, FleetRunPlaces places,
               std::optional<FleetTeam> team = std::nullopt);
    // Cancels the run and waits for its thread; Finished still comes, from the event loop.
    void Stop();
    bool Running() const { return running_; }

    const std::vector<FleetEntry>& Entries() const { return entries_; }
    const FleetRowStates& States() const { return states_; }
    const FleetRunOutcome& Outcome() const { return outcome_; } // of the last run finished

signals:
    void ListRead(); // a team's list: Entries() and States() are the server's list now
    void RowChanged(int index);
    void Finished();

private:
    void Join();
    // The row of the controller a hook names (with a team, the claim's index).
    int Row(int index) const;

    std::vector<FleetEntry> entries_;
    FleetRowStates states_;
    std::vector<int> claimedRows_; // with a team: the row of each claim's index
    bool team_ = false;
    FleetRunOutcome outcome_;
    bool running_ = false;
    std::shared_ptr<std::atomic<bool>> cancel_;
    std::thread thread_;
};
