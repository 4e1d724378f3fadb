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
    rows_[index] = {FleetOutcomeWords(FleetOutcomeText(result)), true, result};
}

FleetWorker::FleetWorker(QObject* parent) : QObject(parent) {}

FleetWorker::~FleetWorker() {
    Stop();
}

int FleetWorker::Row(int index) const {
    if (!team_)
        return index;
    return index >= 0 && index < static_cast<int>(claimedRows_.size())
               ? claimedRows_[static_cast<std::size_t>(index)]
               : -1;
}

bool FleetWorker::Start(std::vector<FleetEntry> entries, FleetOptions options,
                        FleetRunPlaces places, std::optional<FleetTeam> team) {
    if (running_)
        return false;
    Join();
    running_ = true;
    team_ = team.has_value();
    entries_ = team_ ? std::vector<FleetEntry>() : std::move(entries);
    states_ = FleetRowStates(entries_.size());
    claimedRows_.clear();
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    // The hooks run on the collection's thread; each piece of news goes to this object's thread
    // as a queued call (dropped by Qt when this object is gone first, which Stop() prevents).
    thread_ = std::thread([this, entries = entries_, options = std::move(options),
                           places = std::move(places), team = std::move(team), cancel = cancel_] {
        auto post = [this](auto call) {
            QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
        };
        auto changed = [this](int index, auto change) {
            const int row = Row(index);
            if (row < 0)
                return;
            change(row);
            emit RowChanged(row);
        };
        std::optional<TeamClaims> claims;
        if (team) {
            claims.emplace(team->server, team->leaseSeconds);
            if (!claims->Refusal().isEmpty()) {
                post([this, refusal = claims->Refusal()] {
                    outcome_ = {refusal, {}, {}};
                    running_ = false;
                    emit Finished();
                });
                return;
            }
            post([this, list = claims->List().entries] {
                entries_ = list;
                states_ = FleetRowStates(entries_.size());
                emit ListRead();
            });
        }
        std::vector<int> shownPercent;
        auto percent = [&](int index) -> int& {
            if (index >= static_cast<int>(shownPercent.size()))
                shownPercent.resize(static_cast<std::size_t>(index) + 1, -1);
            return shownPercent[static_cast<std::size_t>(index)];
        };
        FleetHooks hooks;
        // A claimed controller's row is its line in the server's list.
        hooks.onClaimed = [&](int index, const FleetEntry& entry) {
            post([this, index, entry] {
                if (claimedRows_.size() <= static_cast<std::size_t>(index))
                    claimedRows_.resize(static_cast<std::size_t>(index) + 1, -1);
                for (std::size_t row = 0; row < entries_.size(); ++row)
                    if (entries_[row].port == entry.port && entries_[row].address == entry.address)
                        claimedRows_[static_cast<std::size_t>(index)] = static_cast<int>(row);
            });
        };
        hooks.onStarted = [&](int index, int tryNumber) {
            percent(index) = -1;
            post([changed, this, index, tryNumber] {
                changed(index, [&](int row) { states_.Started(row, tryNumber); });
            });
        };
        // Only a new whole percent is news: a read has thousands of blocks.
        hooks.onBlocks = [&](int index, int done, int total) {
            const int shown = total > 0 ? static_cast<int>(100LL * done / total) : 0;
            if (shown == percent(index))
                return;
            percent(index) = shown;
            post([changed, this, index, done, total] {
                changed(index, [&](int row) { states_.Blocks(row, done, total); });
            });
        };
        hooks.onFinished = [&](int index, const FleetResult& result) {
            post([changed, this, index, result] {
                changed(index, [&](int row) { states_.Finished(row, result); });
            });
        };
        hooks.cancelled = [cancel] { return cancel->load(); };
        FleetRunOutcome outcome =
            RunFleetCollection(entries, options, places, hooks, claims ? &*claims : nullptr);
        if (claims)
            outcome.problems += claims->Problems();
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
