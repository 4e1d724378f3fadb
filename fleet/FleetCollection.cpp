#include "FleetCollection.h"

#include "ArchiveGeometry.h"
#include "DeviceHold.h"
#include "FleetClaims.h"
#include "FrameLink.h"
#include "KeptRead.h"
#include "NewRecordsRead.h"
#include "OverwriteDue.h"
#include "Port.h"
#include "PortMap.h"
#include "ReadFailureText.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace {

using TimePoint = FleetClock::TimePoint;

class SteadyClock final : public FleetClock {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                   TimePoint until) override {
        wake.wait_until(lock, until);
    }
};

struct Pending {
    int index = 0;
    int tryNumber = 1;
    TimePoint notBefore;
};

struct Event {
    enum class Kind { Started, Blocks, Finished } kind;
    int index = 0;
    int a = 0;
    int b = 0;
};

// What the workers and the caller share, under one lock.
struct Shared {
    explicit Shared(std::shared_ptr<FleetClock> c)
        : clock(c ? std::move(c) : std::make_shared<SteadyClock>()) {}
    const std::shared_ptr<FleetClock> clock;
    std::mutex lock;
    std::condition_variable workReady;
    std::condition_variable eventReady;
    std::deque<Pending> pending;
    int running = 0;
    // The names of the devices reads have open (DeviceKeys): controllers at several addresses
    // on one line are read in turn, and so is one box written in two ways in the list.
    std::multiset<QString> busyDevices;
    // Each controller's device names by index, once a reader has looked them up.
    std::map<int, QStringList> deviceKeys;
    std::vector<Event> events;
    // Each controller's result with its entry, by index; grows while controllers are claimed.
    std::deque<FleetResult> results;
    // Controllers may still be claimed: a reader with nothing to do waits instead of ending.
    bool moreComing = false;
    std::atomic<bool> cancel{false};

    void Post(const Event& e) {
        {
            const std::lock_guard<std::mutex> guard(lock);
            events.push_back(e);
        }
        eventReady.notify_one();
    }
};

// One try at one controller; true when it ended for good (kept, or a failure no try mends).
bool TryController(const FleetEntry& entry, const FleetOptions& options, int index, Shared& shared,
                   FleetResult& result) {
    const Port port = ResolvePort(entry.port, options.ports);
    if (!port.NamesDevice()) {
        result.cause = port.refusal.isEmpty()
                           ? QStringLiteral("%1: порту не назначено устройство").arg(entry.port)
                           : QStringLiteral("%1: %2").arg(entry.port, port.refusal);
        return true;
    }
    QElapsedTimer clock;
    clock.start();
    FrameLink link(options.ports, options.transport);
    link.DeviceAddress = static_cast<std::uint8_t>(entry.address);
    NewRecordsDownloadHooks hooks;
    int shownPercent = -1;
    hooks.onBlocks = [&](int done, int total) {
        const int percent = total > 0 ? static_cast<int>(100LL * done / total) : 0;
        if (percent != shownPercent) {
            shownPercent = percent;
            shared.Post({Event::Kind::Blocks, index, done, total});
        }
    };
    hooks.cancelled = [&shared] { return shared.cancel.load(); };
    NewRecordsControllerRead read =
        ReadControllerNewRecords(link, port, options.speed, options.archivesFolder, hooks);
    const QString refused = link.OpenFailure();
    // The port as the kept file names it: with the address a modem called in from.
    const QString shownPort =
        link.CurrentPortLabel().isEmpty() ? port.Shown() : link.CurrentPortLabel();
    link.CloseCOM();
    result.seconds += clock.elapsed() / 1000.0;
    if (read.read.outcome != ControllerReadOutcome::Completed) {
        result.cause =
            read.read.outcome == ControllerReadOutcome::NoController && !refused.isEmpty()
                ? QStringLiteral("%1: %2").arg(entry.port, refused)
                : ReadFailureText(read.read, entry.port, entry.address);
        return read.read.outcome == ControllerReadOutcome::Cancelled;
    }
    const bool whole = !read.wholeReadCause.isEmpty();
    const KeptRead kept = KeepCompletedRead(
        options.archivesFolder, read.read, shownPort, QDateTime::currentDateTime(),
        whole ? std::nullopt : std::optional<int>(read.blocksRead));
    if (!kept.error.isEmpty()) {
        // The disk, not the line: another try would read the controller again for nothing.
        result.cause = QStringLiteral("архив не сохранён: %1").arg(kept.error);
        return true;
    }
    result.outcome = whole ? FleetOutcome::Whole : FleetOutcome::New;
    result.cause.clear();
    result.serial = kept.contents.serial;
    result.blocks = read.blocksRead;
    result.file = kept.path;
    result.overwriteFrom = OverwriteFrom(kept.contents.image, kept.contents.channelCount);
    const auto before = options.lastSerials.find({entry.port, entry.address});
    if (before != options.lastSerials.end() && result.serial && *result.serial != before->second)
        result.serialBefore = before->second;
    return true;
}

void Work(const FleetOptions& options, Shared& shared) {
    std::unique_lock<std::mutex> guard(shared.lock);
    for (;;) {
        if (shared.cancel || (shared.pending.empty() && shared.running == 0 && !shared.moreComing))
            return;
        if (shared.pending.empty()) {
            // A read that fails now may come back for another try.
            shared.workReady.wait(guard);
            continue;
        }
        // The first controller whose pause is over and whose line is free; else wait for a
        // pause to end or a read to end.
        const auto busy = [&](int index) {
            const auto keys = shared.deviceKeys.find(index);
            return keys != shared.deviceKeys.end() &&
                   std::any_of(keys->second.begin(), keys->second.end(),
                               [&](const QString& k) { return shared.busyDevices.contains(k); });
        };
        auto next = shared.pending.end();
        for (auto it = shared.pending.begin(); it != shared.pending.end(); ++it) {
            if (busy(it->index))
                continue;
            if (next == shared.pending.end() || it->notBefore < next->notBefore)
                next = it;
        }
        if (next == shared.pending.end()) {
            shared.workReady.wait(guard);
            continue;
        }
        if (next->notBefore > shared.clock->Now()) {
            shared.clock->WaitUntil(shared.workReady, guard, next->notBefore);
            continue;
        }
        const Pending job = *next;
        shared.pending.erase(next);
        ++shared.running;
        if (!shared.deviceKeys.contains(job.index)) {
            // Looked up outside the lock (a host name may take a while), then chosen again.
            const QString port = shared.results[job.index].entry.port;
            guard.unlock();
            const QString device = ResolvePort(port, options.ports).device;
            QStringList keys = device.isEmpty() ? QStringList{port} : DeviceKeys(device);
            guard.lock();
            shared.deviceKeys[job.index] = std::move(keys);
            --shared.running;
            shared.pending.push_front(job);
            shared.workReady.notify_all();
            continue;
        }
        const QStringList keys = shared.deviceKeys[job.index];
        FleetResult result = shared.results[job.index];
        for (const QString& key : keys)
            shared.busyDevices.insert(key);
        guard.unlock();

        shared.Post({Event::Kind::Started, job.index, job.tryNumber, 0});
        result.tries = job.tryNumber;
        const bool final = TryController(result.entry, options, job.index, shared, result) ||
                           job.tryNumber >= options.tries;

        guard.lock();
        --shared.running;
        for (const QString& key : keys)
            shared.busyDevices.erase(shared.busyDevices.find(key));
        shared.results[job.index] = result;
        if (final) {
            shared.events.push_back({Event::Kind::Finished, job.index, 0, 0});
        } else {
            const auto pause = std::chrono::milliseconds(static_cast<qint64>(options.firstPauseMs)
                                                         << (job.tryNumber - 1));
            shared.pending.push_back({job.index, job.tryNumber + 1, shared.clock->Now() + pause});
        }
        shared.workReady.notify_all();
        shared.eventReady.notify_one();
    }
}

// The one collection loop: entries, or what claims gives (then entries is empty).
std::vector<FleetResult> Collect(const std::vector<FleetEntry>& entries, FleetClaims* claims,
                                 const FleetOptions& options, const FleetHooks& hooks) {
    Shared shared(options.clock);
    std::vector<bool> finished;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        FleetResult result;
        result.entry = entries[i];
        shared.results.push_back(result);
        shared.pending.push_back({static_cast<int>(i), 1, shared.clock->Now()});
        finished.push_back(false);
    }
    shared.moreComing = claims != nullptr;
    const int workers = std::max(
        1, claims ? options.jobs : std::min(options.jobs, static_cast<int>(entries.size())));
    std::vector<std::thread> threads;
    for (int i = 0; i < workers && (claims || !entries.empty()); ++i)
        threads.emplace_back([&] { Work(options, shared); });

    std::size_t finishedCount = 0;
    auto nextAsk = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> guard(shared.lock);
    for (;;) {
        // A reader free: claim a controller for it. Nothing free now: ask again a little later.
        if (claims && shared.moreComing && shared.cancel) {
            shared.moreComing = false;
            shared.workReady.notify_all();
        }
        while (claims && shared.moreComing &&
               static_cast<int>(shared.pending.size()) + shared.running < workers &&
               std::chrono::steady_clock::now() >= nextAsk) {
            guard.unlock();
            FleetEntry entry;
            const FleetClaims::Answer answer = claims->Next(entry);
            guard.lock();
            if (answer == FleetClaims::Answer::Claimed) {
                FleetResult result;
                result.entry = entry;
                shared.results.push_back(result);
                const int index = static_cast<int>(shared.results.size() - 1);
                finished.push_back(false);
                if (hooks.onClaimed) {
                    guard.unlock();
                    hooks.onClaimed(index, entry);
                    guard.lock();
                }
                shared.pending.push_back({index, 1, shared.clock->Now()});
                shared.workReady.notify_one();
            } else if (answer == FleetClaims::Answer::Wait) {
                nextAsk = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
            } else {
                shared.moreComing = false;
                shared.workReady.notify_all();
            }
        }
        if (!shared.moreComing && finishedCount >= shared.results.size())
            break;
        const bool idle =
            shared.running == 0 && (shared.pending.empty() || shared.cancel) && !shared.moreComing;
        if (idle && shared.events.empty())
            break; // cancelled: nothing runs any more
        shared.eventReady.wait_for(guard, std::chrono::milliseconds(100),
                                   [&] { return !shared.events.empty(); });
        std::vector<Event> events;
        events.swap(shared.events);
        guard.unlock();
        for (const Event& e : events) {
            switch (e.kind) {
            case Event::Kind::Started:
                if (hooks.onStarted)
                    hooks.onStarted(e.index, e.a);
                break;
            case Event::Kind::Blocks:
                if (hooks.onBlocks)
                    hooks.onBlocks(e.index, e.a, e.b);
                break;
            case Event::Kind::Finished: {
                finished[e.index] = true;
                ++finishedCount;
                guard.lock();
                const FleetResult result = shared.results[e.index];
                guard.unlock();
                if (claims)
                    claims->Done(result.entry, result);
                if (hooks.onFinished)
                    hooks.onFinished(e.index, result);
                break;
            }
            }
        }
        if (claims)
            claims->Tick();
        if (!shared.cancel && hooks.cancelled && hooks.cancelled()) {
            shared.cancel = true;
            shared.workReady.notify_all();
        }
        guard.lock();
    }
    guard.unlock();
    shared.workReady.notify_all();
    for (std::thread& t : threads)
        t.join();

    // What a cancelled collection did not finish: its read stopped or never started. A claimed
    // one is not marked done: it comes free to the others when its claim ends.
    for (std::size_t i = 0; i < shared.results.size(); ++i) {
        if (finished[i])
            continue;
        FleetResult& result = shared.results[i];
        result.outcome = FleetOutcome::Failed;
        result.cause = QStringLiteral("%1: сбор прерван").arg(result.entry.port);
        if (hooks.onFinished)
            hooks.onFinished(static_cast<int>(i), result);
    }
    return {shared.results.begin(), shared.results.end()};
}

} // namespace

std::vector<FleetResult> CollectFleet(const std::vector<FleetEntry>& entries,
                                      const FleetOptions& options, const FleetHooks& hooks) {
    return Collect(entries, nullptr, options, hooks);
}

std::vector<FleetResult> CollectClaimedFleet(FleetClaims& claims, const FleetOptions& options,
                                             const FleetHooks& hooks) {
    return Collect({}, &claims, options, hooks);
}
