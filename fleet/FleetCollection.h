#pragma once

// A collection of a fleet: every controller of a fleet list read, several at once, each on a link
// of its own: only the new records where an earlier download of it is kept, else the whole
// archive, kept exactly as a download (KeepCompletedRead). A controller that fails is tried
// again after a pause that doubles with each try, while the others go on. Indexing the kept
// files in the library is the caller's (onFinished).
//
// Failures are results, never exceptions: a controller that failed every try has its last try's
// cause; a collection cancelled keeps what was completed and says so of the rest. A read stopped
// midway keeps nothing of its controller.

#include "FleetList.h"
#include "LinkTransport.h"
#include "PortMap.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

// When the collection's pauses end: the steady clock, or a test's, which moves on at once to
// the end of a pause the collection waits for.
class FleetClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~FleetClock() = default;
    virtual TimePoint Now() = 0;
    // Waits on `wake` until `until`, or less (a notification, a spurious wake-up).
    virtual void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                           TimePoint until) = 0;
};

struct FleetOptions {
    // How "COM<n>" in the list names a device; each read's link gets a copy.
    PortMap ports;
    // How each read's link makes its stream; empty: the program's own for the device.
    LinkTransportFactory transport;
    // The pauses' clock; null: the steady clock.
    std::shared_ptr<FleetClock> clock;
    QString archivesFolder;
    int speed = 115200;
    int jobs = 8;
    int tries = 3;
    int firstPauseMs = 2000; // before the second try; doubled before each later one
    // The serial number kept for each port (as written in the list) and address at the last
    // collection: a controller that answers with another one is kept under its own, and the
    // result says which one was there before.
    std::map<std::pair<QString, int>, std::uint16_t> lastSerials;
};

enum class FleetOutcome { New, Whole, Failed };

struct FleetResult {
    FleetEntry entry;
    FleetOutcome outcome = FleetOutcome::Failed;
    QString cause; // why it failed, for Failed
    int tries = 0;
    std::optional<std::uint16_t> serial;       // of the controller kept
    std::optional<std::uint16_t> serialBefore; // the other one kept for this port last time
    int blocks = 0;     // blocks taken from the controller by the try that completed
    double seconds = 0; // the tries' time together, pauses not counted
    QString file;       // the kept file
    std::optional<qint64> overwriteFrom; // when the kept controller starts losing records
};

// Called on the caller's thread, in the order things happened.
struct FleetHooks {
    // A run shared with other collectors: a claim gave this collector the controller that from
    // now on has this index (before its onStarted).
    std::function<void(int index, const FleetEntry&)> onClaimed;
    std::function<void(int index, int tryNumber)> onStarted;
    std::function<void(int index, int done, int total)> onBlocks;
    std::function<void(int index, const FleetResult&)> onFinished;
    std::function<bool()> cancelled; // asked about ten times a second
};

// Collects entries and returns their results in the list's order. Blocks the calling thread until
// the last read has ended (a cancelled one within a block's time).
std::vector<FleetResult> CollectFleet(const std::vector<FleetEntry>& entries,
                                      const FleetOptions& options, const FleetHooks& hooks = {});

// The same collection of the controllers claims gives, one at a time as a reader comes free
// (FleetClaims.h), until it says there is nothing more; results in the order they were claimed.
// A controller ended for good is marked done there before onFinished; one a cancelled collection
// did not finish is not.
class FleetClaims;
std::vector<FleetResult> CollectClaimedFleet(FleetClaims& claims, const FleetOptions& options,
                                             const FleetHooks& hooks = {});
