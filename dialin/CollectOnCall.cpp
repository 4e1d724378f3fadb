#include "CollectOnCall.h"

#include "DialinFleet.h"
#include "TeamFleet.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

// While another collection runs on this machine, due controllers are tried again this often.
constexpr int RetryMs = 60'000;

} // namespace

CollectOnCall::CollectOnCall(int afterHours, FleetOptions options, FleetRunPlaces places,
                             std::function<std::vector<FleetEntry>()> entries, Log log,
                             QObject* parent)
    : QObject(parent), afterHours_(afterHours), options_(std::move(options)),
      places_(std::move(places)), entries_(std::move(entries)), log_(std::move(log)) {
    places_.joinKeptRun = true;
    retry_.setSingleShot(true);
    retry_.setInterval(RetryMs);
    connect(&retry_, &QTimer::timeout, this, &CollectOnCall::RunNext);
}

CollectOnCall::~CollectOnCall() {
    if (worker_.joinable())
        worker_.join();
}

bool CollectOnCall::Due(const FleetEntry& entry) const {
    std::optional<std::uint16_t> serial;
    for (const FleetResult& kept : ReadKeptRun(places_.stateFolder))
        if (kept.entry.port == entry.port && kept.entry.address == entry.address)
            serial = kept.serial;
    if (!serial)
        return true;
    const QFileInfoList files =
        QDir(QDir(places_.archivesFolder).filePath(QString::number(*serial)))
            .entryInfoList(QDir::Files, QDir::Time);
    if (files.isEmpty())
        return true;
    const QDateTime newest = files.front().lastModified();
    return newest.secsTo(QDateTime::currentDateTime()) >= 3600LL * afterHours_;
}

void CollectOnCall::Called(const QString& id) {
    for (const FleetEntry& entry : entries_())
        if (DialinId(entry.port) == id && Due(entry))
            due_.insert(id);
    if (!running_)
        RunNext();
}

void CollectOnCall::RunNext() {
    if (running_ || due_.empty())
        return;
    std::vector<FleetEntry> entries;
    for (const FleetEntry& entry : entries_())
        if (due_.contains(DialinId(entry.port)))
            entries.push_back(entry);
    inFlight_ = std::move(due_);
    due_.clear();
    if (entries.empty())
        return;
    running_ = true;
    if (worker_.joinable())
        worker_.join();
    worker_ = std::thread([this, entries] {
        const FleetRunOutcome outcome = Collect(entries);
        QMetaObject::invokeMethod(
            this, [this, outcome] { Done(outcome); }, Qt::QueuedConnection);
    });
}

FleetRunOutcome CollectOnCall::Collect(const std::vector<FleetEntry>& entries) {
    if (places_.server.isEmpty())
        return RunFleetCollection(entries, options_, places_);
    // With a team server, a controller another collector reads or has read in tonight's run is
    // not read again: the same claims as a shared collection, of these controllers only.
    TeamClaims claims(places_.server, leaseSeconds_);
    if (!claims.Refusal().isEmpty()) {
        log_(QStringLiteral("сбор по звонку без сервера: ") + claims.Refusal());
        return RunFleetCollection(entries, options_, places_);
    }
    QStringList ports;
    for (const FleetEntry& entry : entries)
        ports << entry.port;
    claims.ClaimOnly(ports);
    FleetRunOutcome outcome = RunFleetCollection(entries, options_, places_, {}, &claims);
    outcome.problems += claims.Problems();
    return outcome;
}

void CollectOnCall::Done(const FleetRunOutcome& outcome) {
    running_ = false;
    ++collections_;
    if (!outcome.refusal.isEmpty()) {
        log_(QStringLiteral("сбор по звонку отложен: ") + outcome.refusal);
        due_.insert(inFlight_.begin(), inFlight_.end());
        retry_.start();
        emit Finished(outcome);
        return;
    }
    for (const FleetResult& r : outcome.results) {
        if (!inFlight_.contains(DialinId(r.entry.port)))
            continue; // another controller's row of the kept run
        if (r.outcome == FleetOutcome::Failed)
            log_(QStringLiteral("сбор по звонку: %1 адрес %2 не собран: %3")
                     .arg(r.entry.port)
                     .arg(r.entry.address)
                     .arg(r.cause));
        else
            log_(QStringLiteral("сбор по звонку: %1 адрес %2 собран (%3, блоков %4): %5")
                     .arg(r.entry.port)
                     .arg(r.entry.address)
                     .arg(r.outcome == FleetOutcome::New ? QStringLiteral("новые записи")
                                                         : QStringLiteral("весь архив"))
                     .arg(r.blocks)
                     .arg(r.file));
    }
    for (const QString& problem : outcome.problems)
        log_(QStringLiteral("сбор по звонку: ") + problem);
    emit Finished(outcome);
    RunNext();
}
