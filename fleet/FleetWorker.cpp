#include "FleetWorker.h"

#include "FleetTable.h"

#include <QMetaObject>

void FleetRowStates::Started(int index, int tryNumber) {
    if (index < 0 || index >= static_cast<int>(rows_.size()))
        return;
    tries_[index] = tryNumber;
    rows_[index].text =
        tryNumber > 1 ? QStringLiteral("попытка %1").arg(tryNumber) : QStringLiteral("читается 0%");
}

void FleetRowStates::Blocks(int index, int done, int total) {
    if (index < 0 || index >= static_cast<int>(rows_.size()) || total <= 0 || rows_[index].finished)
        return;
    const QString reading = QStringLiteral("читается %1%").arg(100LL * done / total);
    rows_[index].text = tries_[index] > 1
                            ? QStringLiteral("попытка %1, %2").arg(tries_[index]).arg(reading)
                            : reading;
}

void FleetRowStates::Finished(int index, const FleetResult& result) {
    if (index < 0 || index >= static_cast<int>(rows_.size()))
        return;
    rows_[index] = {FleetOutcomeText(result), true, result};
}

FleetWorker::FleetWorker(QObject* parent) : QObject(parent) {}

FleetWorker::~FleetWorker() {
    Stop();
}

bool FleetWorker::Start(std::vector<FleetEntry> entries, FleetOptions options,
                        FleetRunPlaces places) {
    if (running_)
        return false;
    Join();
    running_ = true;
    entries_ = std::move(entries);
    states_ = FleetRowStates(entries_.size());
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    // The hooks run on the collection's thread; each piece of news goes to this object's thread
    // as a queued call (dropped by Qt when this object is gone first, which Stop() prevents).
    thread_ = std::thread([this, entries = entries_, options = std::move(options),
                           places = std::move(places), cancel = cancel_] {
        std::vector<int> shownPercent(entries.size(), -1);
        auto post = [this](auto call) {
            QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
        };
        FleetHooks hooks;
        hooks.onStarted = [&](int index, int tryNumber) {
            shownPercent[index] = -1;
            post([this, index, tryNumber] {
                states_.Started(index, tryNumber);
                emit RowChanged(index);
            });
        };
        // Only a new whole percent is news: a read has thousands of blocks.
        hooks.onBlocks = [&](int index, int done, int total) {
            const int percent = total > 0 ? static_cast<int>(100LL * done / total) : 0;
            if (percent == shownPercent[index])
                return;
            shownPercent[index] = percent;
            post([this, index, done, total] {
                states_.Blocks(index, done, total);
                emit RowChanged(index);
            });
        };
        hooks.onFinished = [&](int index, const FleetResult& result) {
            post([this, index, result] {
                states_.Finished(index, result);
                emit RowChanged(index);
            });
        };
        hooks.cancelled = [cancel] { return cancel->load(); };
        FleetRunOutcome outcome = RunFleetCollection(entries, options, places, hooks);
        post([this, outcome = std::move(outcome)] {
            outcome_ = outcome;
            running_ = false;
            emit Finished();
        });
    });
    return true;
}

void FleetWorker::Stop() {
    if (cancel_)
        cancel_->store(true);
    Join();
}

void FleetWorker::Join() {
    if (thread_.joinable())
        thread_.join();
}
