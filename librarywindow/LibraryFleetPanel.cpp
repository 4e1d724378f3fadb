#include "LibraryFleetPanel.h"

#include "FleetTable.h"
#include "LibraryDue.h"
#include "LibraryWindowCells.h"

#include <QBrush>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QThreadPool>
#include <QVBoxLayout>

#include <set>

using namespace librarycells;

namespace {

constexpr int kStateColumn = 3; // of the fleet's table

} // namespace

// Where the list comes from, the button, one row a controller (in the list's order while
// collecting, most urgent first after).
LibraryFleetPanel::LibraryFleetPanel(LibraryFleetOptions options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)),
      fleetFetcher_(std::make_unique<QThreadPool>()) {
    fleetFetcher_->setMaxThreadCount(1);
    fleetSource_ = new QLabel(this);
    fleetSource_->setWordWrap(true);
    collectButton_ = new QPushButton(QStringLiteral("Собрать сейчас"), this);
    fleetModel_ = new QStandardItemModel(0, 6, this);
    fleetModel_->setHorizontalHeaderLabels({QStringLiteral("Порт"), QStringLiteral("Адрес"),
                                            QStringLiteral("Название"), QStringLiteral("Состояние"),
                                            QStringLiteral("Номер"),
                                            QStringLiteral("Перезапись через, дн.")});
    fleet_ = MakeTable(this);
    fleet_->setModel(fleetModel_);
    fleet_->setSortingEnabled(false);
    // A state keeps its width while it changes; a long outcome is cut, whole in its tooltip.
    fleet_->setWordWrap(false);
    auto* fleetTop = new QHBoxLayout;
    fleetTop->addWidget(fleetSource_, 1);
    fleetTop->addWidget(collectButton_);
    auto* fleetLayout = new QVBoxLayout(this);
    fleetLayout->setContentsMargins(0, 0, 0, 0);
    fleetLayout->addLayout(fleetTop);
    fleetLayout->addWidget(fleet_, 1);
    setVisible(!options_.listPath.isEmpty() || !options_.server.isEmpty());
    collector_ = new FleetWorker(this);
    connect(collectButton_, &QPushButton::clicked, this, &LibraryFleetPanel::CollectFleet);
    ConnectCollector();

    ReadFleet();
    if (!options_.server.isEmpty())
        FetchServerFleet();
}

LibraryFleetPanel::~LibraryFleetPanel() {
    collector_->Stop();
    fleetFetcher_->waitForDone();
}

void LibraryFleetPanel::Stop() {
    // Each read stops within a block and keeps nothing; what was completed stays kept.
    collector_->Stop();
}

void LibraryFleetPanel::SetDueBySerial(std::map<int, std::optional<qint64>> dueBySerial) {
    dueBySerial_ = std::move(dueBySerial);
}

void LibraryFleetPanel::ConnectCollector() {
    // A shared run's list, as the collection read it from the server.
    connect(collector_, &FleetWorker::ListRead, this, &LibraryFleetPanel::ShowCollectorRows);
    connect(collector_, &FleetWorker::RowChanged, this, [this](int row) {
        const FleetRowState& state = collector_->States().Rows().at(static_cast<std::size_t>(row));
        const auto& result = state.result;
        ShowFleetRow(row, collector_->Entries().at(static_cast<std::size_t>(row)), state.text,
                     result && result->outcome == FleetOutcome::Failed,
                     result ? result->serial : std::nullopt,
                     result ? result->overwriteFrom : std::nullopt);
    });
    connect(collector_, &FleetWorker::Finished, this, &LibraryFleetPanel::CollectionFinished);
}

void LibraryFleetPanel::CollectionFinished() {
    const FleetRunOutcome& outcome = collector_->Outcome();
    ReadFleet(); // the list's own notes again, then the run's
    if (!outcome.refusal.isEmpty()) {
        fleetNote_ += (fleetNote_.isEmpty() ? QString() : QStringLiteral("\n")) + outcome.refusal;
    } else {
        collected_ = true;
        std::size_t failed = 0;
        for (const FleetResult& r : outcome.results)
            failed += r.outcome == FleetOutcome::Failed ? 1 : 0;
        QStringList lines{QStringLiteral("Сбор окончен: собрано %1 из %2")
                              .arg(outcome.results.size() - failed)
                              .arg(outcome.results.size())};
        lines += outcome.problems;
        if (!fleetNote_.isEmpty())
            lines << fleetNote_;
        fleetNote_ = lines.join(u'\n');
    }
    emit FleetChanged(); // the controllers' days left, the run's table
    if (!options_.server.isEmpty())
        FetchServerFleet(); // the office may have changed the list meanwhile
    emit CollectionDone();
}

bool LibraryFleetPanel::Collecting() const {
    return collector_->Running();
}

void LibraryFleetPanel::ReadFleet() {
    fleetNote_ = serverFleetNote_;
    fleetList_ = {};
    if (TeamFleet()) {
        fleetSource_->setText(QStringLiteral("Список регуляторов с сервера (сбор общий с другими "
                                             "сборщиками)"));
        fleetList_ = *serverFleet_;
    } else if (options_.listPath.isEmpty()) {
        collectButton_->setEnabled(false);
        return;
    } else {
        const QString shown = QDir::toNativeSeparators(options_.listPath);
        if (!QFileInfo::exists(options_.listPath)) {
            // No fleet yet: nothing wrong, only where its list would be.
            fleetSource_->setText(QStringLiteral("Списка регуляторов нет: %1").arg(shown));
            collectButton_->setEnabled(false);
            return;
        }
        fleetSource_->setText(QStringLiteral("Список регуляторов: %1").arg(shown));
        fleetList_ = ReadFleetList(options_.listPath);
    }
    QStringList notes;
    if (!fleetNote_.isEmpty())
        notes << fleetNote_;
    if (!fleetList_.refusal.isEmpty())
        notes << fleetList_.refusal;
    for (const QString& skipped : fleetList_.skipped)
        notes << QStringLiteral("список регуляторов: %1 — строка пропущена").arg(skipped);
    fleetNote_ = notes.join(u'\n');
    collectButton_->setEnabled(!fleetList_.entries.empty() && !Collecting());
}

void LibraryFleetPanel::FetchServerFleet() {
    const QString server = options_.server;
    // A thread of its own: a server out of reach does not hold the library's work up.
    fleetFetcher_->start([this, server] {
        const PulledFleetList pulled = PullFleetList(server);
        // The panel waits for the fetch before it goes (~LibraryFleetPanel).
        QMetaObject::invokeMethod(
            this,
            [this, pulled] {
                // A server without a list (or out of reach) leaves the file's list in place.
                FleetList list = ParseFleetList(pulled.text);
                serverFleet_.reset();
                serverFleetNote_.clear();
                if (!pulled.error.isEmpty() && !pulled.none)
                    serverFleetNote_ =
                        QStringLiteral("список регуляторов с сервера: %1").arg(pulled.error);
                else if (!list.entries.empty() || !list.refusal.isEmpty())
                    serverFleet_ = std::move(list);
                if (Collecting())
                    return;
                ReadFleet();
                ShowFleet();
                emit NoteChanged();
            },
            Qt::QueuedConnection);
    });
}

void LibraryFleetPanel::ShowFleetRow(int row, const FleetEntry& entry, const QString& state,
                                     bool failed, std::optional<std::uint16_t> serial,
                                     std::optional<qint64> overwriteFrom) {
    if (!overwriteFrom && serial)
        if (const auto it = dueBySerial_.find(*serial); it != dueBySerial_.end())
            overwriteFrom = it->second;
    if (fleetModel_->rowCount() <= row)
        fleetModel_->setRowCount(row + 1);
    const qint64 now = RecordTimeNow();
    const QList<QStandardItem*> items{Text(entry.port),
                                      Number(entry.address),
                                      Text(entry.name),
                                      Text(state),
                                      serial ? Number(*serial) : Text(QString()),
                                      DueDays(overwriteFrom, now)};
    items[kStateColumn]->setToolTip(state);
    if (const std::optional<QColor> mark = FleetRowMark(failed, overwriteFrom, now))
        for (QStandardItem* item : items)
            if (item->background().style() == Qt::NoBrush) // the days keep their own colour
                item->setBackground(*mark);
    for (int column = 0; column < items.size(); ++column)
        fleetModel_->setItem(row, column, items[column]);
}

// While collecting the rows are the collection's; after a run here its table, most
// urgent first; before, the last run kept (and the list's controllers it did not have).
void LibraryFleetPanel::ShowFleet() {
    if (Collecting())
        return;
    int row = 0;
    if (collected_) {
        const std::vector<FleetResult>& results = collector_->Outcome().results;
        fleetModel_->setRowCount(0);
        std::set<std::pair<QString, int>> shown;
        for (const FleetResult& r : results) {
            ShowFleetRow(row++, r.entry, FleetOutcomeWords(FleetOutcomeText(r)),
                         r.outcome == FleetOutcome::Failed, r.serial, r.overwriteFrom);
            shown.insert({r.entry.port, r.entry.address});
        }
        // A shared run: the others' controllers, read by their collectors.
        for (const FleetEntry& e : collector_->Entries())
            if (!shown.count({e.port, e.address}))
                ShowFleetRow(row++, e, QStringLiteral("у другого сборщика"), false, std::nullopt,
                             std::nullopt);
    } else {
        const std::vector<FleetResult> kept = options_.places.stateFolder.isEmpty()
                                                  ? std::vector<FleetResult>()
                                                  : ReadKeptRun(options_.places.stateFolder);
        fleetModel_->setRowCount(0);
        std::set<std::pair<QString, int>> shown;
        for (const FleetResult& r : kept) {
            // The kept run holds each outcome's text as it was printed, with the table's codes.
            ShowFleetRow(row++, r.entry, FleetOutcomeWords(r.cause),
                         r.outcome == FleetOutcome::Failed, r.serial, std::nullopt);
            shown.insert({r.entry.port, r.entry.address});
        }
        for (const FleetEntry& e : fleetList_.entries)
            if (!shown.count({e.port, e.address}))
                ShowFleetRow(row++, e, QString(), false, std::nullopt, std::nullopt);
    }
    FitFleetColumns();
}

void LibraryFleetPanel::ShowCollectorRows() {
    fleetModel_->setRowCount(0);
    const std::vector<FleetEntry>& entries = collector_->Entries();
    const std::vector<FleetRowState>& states = collector_->States().Rows();
    for (std::size_t i = 0; i < entries.size() && i < states.size(); ++i)
        ShowFleetRow(static_cast<int>(i), entries[i], states[i].text, false, std::nullopt,
                     std::nullopt);
    FitFleetColumns();
}

void LibraryFleetPanel::FitFleetColumns() {
    fleet_->resizeColumnsToContents();
    const int reading =
        fleet_->fontMetrics().horizontalAdvance(QStringLiteral("попытка 3, читается 100%")) + 12;
    fleet_->setColumnWidth(kStateColumn, reading);
}

void LibraryFleetPanel::CollectFleet() {
    if (Collecting())
        return;
    ReadFleet();
    if (fleetList_.entries.empty()) {
        emit FleetChanged();
        return;
    }
    FleetOptions options;
    options.speed = options_.speed;
    options.jobs = options_.jobs;
    if (options_.ports)
        options.ports = options_.ports();
    std::optional<FleetTeam> team;
    if (TeamFleet())
        team = FleetTeam{options_.server, options_.leaseSeconds};
    collector_->Start(fleetList_.entries, options, options_.places, team);
    collectButton_->setEnabled(false);
    ShowCollectorRows(); // a shared run's rows come when its collection has read the list
    emit NoteChanged();
}
