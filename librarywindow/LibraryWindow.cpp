#include "LibraryWindow.h"

#include "ArchiveFile.h"
#include "BlocksReadText.h"
#include "ChartWindow.h"
#include "FleetTable.h"
#include "FleetWorker.h"
#include "LibraryDue.h"
#include "LibraryIndex.h"
#include "LibraryReport.h"
#include "OverwriteDue.h"

#include <QBrush>
#include <QCloseEvent>
#include <QColor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QThreadPool>
#include <QVBoxLayout>

#include <set>

namespace {

constexpr int kSerialRole = Qt::UserRole + 1;
constexpr int kFileRole = Qt::UserRole + 2;
constexpr int kChannelsRole = Qt::UserRole + 3;
constexpr int kStateColumn = 3; // of the fleet's table
const QColor kLostColour(255, 205, 205);

QStandardItem* Text(const QString& text) {
    auto* item = new QStandardItem(text);
    item->setEditable(false);
    return item;
}

// Numbers sort as numbers.
QStandardItem* Number(double value) {
    auto* item = new QStandardItem;
    item->setData(value, Qt::DisplayRole);
    item->setEditable(false);
    return item;
}

QStandardItem* LostDays(qint64 seconds) {
    QStandardItem* item = Number(std::round(static_cast<double>(seconds) / 8640.0) / 10.0);
    if (seconds > 0)
        item->setBackground(kLostColour);
    return item;
}

// Days until records not yet read are overwritten: soon (two weeks or less) stands out, already
// (negative) is red.
constexpr double kDueSoonDays = 14.0;
const QColor kDueSoonColour(255, 232, 150);
const QColor kDuePastColour(240, 110, 110);

// The days as the column shows them (one decimal).
double ShownDays(qint64 overwriteFrom, qint64 asOf) {
    return std::round(DaysUntil(overwriteFrom, asOf) * 10.0) / 10.0;
}

QStandardItem* DueDays(const std::optional<qint64>& overwriteFrom, qint64 asOf) {
    if (!overwriteFrom)
        return Text(QString());
    const double days = ShownDays(*overwriteFrom, asOf);
    QStandardItem* item = Number(days);
    if (days < 0)
        item->setBackground(kDuePastColour);
    else if (days <= kDueSoonDays)
        item->setBackground(kDueSoonColour);
    return item;
}

// A fleet row that needs the engineer stands out whole, as lost days do in the controllers'
// list: a controller not collected (nothing of it read) or one losing records already in the
// lost days' colour, one two weeks or less from it in the colour of its days.
std::optional<QColor> FleetRowMark(bool failed, const std::optional<qint64>& overwriteFrom,
                                   qint64 asOf) {
    if (failed)
        return kLostColour;
    if (!overwriteFrom)
        return std::nullopt;
    const double days = ShownDays(*overwriteFrom, asOf);
    if (days < 0)
        return kLostColour;
    if (days <= kDueSoonDays)
        return kDueSoonColour;
    return std::nullopt;
}

QString Moment(const std::optional<qint64>& seconds) {
    return seconds ? FormatRecordTime(*seconds) : QString();
}

QTableView* MakeTable(QWidget* parent) {
    auto* view = new QTableView(parent);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSortingEnabled(true);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    return view;
}

} // namespace

LibraryWindow::LibraryWindow(LibraryWindowOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window), options_(std::move(options)),
      index_(std::make_unique<LibraryIndex>()), worker_(std::make_unique<QThreadPool>()),
      fleetFetcher_(std::make_unique<QThreadPool>()),
      stop_(std::make_shared<std::atomic<bool>>(false)) {
    setObjectName(QStringLiteral("LibraryWindow"));
    setWindowTitle(QStringLiteral("Библиотека архивов"));
    resize(1200, 700);
    worker_->setMaxThreadCount(1);
    fleetFetcher_->setMaxThreadCount(1);

    filter_ = new QLineEdit(this);
    filter_->setPlaceholderText(QStringLiteral("Фильтр: номер, место, идентификация"));
    filter_->setClearButtonEnabled(true);
    historyButton_ = new QPushButton(QStringLiteral("История"), this);
    addButton_ = new QPushButton(QStringLiteral("Добавить архивы…"), this);
    syncButton_ = new QPushButton(QStringLiteral("Синхронизировать"), this);
    syncButton_->setVisible(static_cast<bool>(options_.sync));
    auto* top = new QHBoxLayout;
    top->addWidget(filter_, 1);
    for (QPushButton* b : {historyButton_, addButton_, syncButton_})
        top->addWidget(b);

    controllerModel_ = new QStandardItemModel(0, 11, this);
    controllerModel_->setHorizontalHeaderLabels(
        {QStringLiteral("Номер"), QStringLiteral("Место установки"),
         QStringLiteral("Идентификация"), QStringLiteral("Каналы"), QStringLiteral("Визиты"),
         QStringLiteral("Первая запись"), QStringLiteral("Последняя запись"),
         QStringLiteral("Последний визит"), QStringLiteral("Потеряно дней"),
         QStringLiteral("Конфликты"), QStringLiteral("Перезапись через, дн.")});
    filterModel_ = new QSortFilterProxyModel(this);
    filterModel_->setSourceModel(controllerModel_);
    filterModel_->setFilterKeyColumn(-1);
    filterModel_->setFilterCaseSensitivity(Qt::CaseInsensitive);
    controllers_ = MakeTable(this);
    controllers_->setModel(filterModel_);
    controllers_->sortByColumn(0, Qt::AscendingOrder);

    visitModel_ = new QStandardItemModel(0, 9, this);
    visitModel_->setHorizontalHeaderLabels(
        {QStringLiteral("Загружен"), QStringLiteral("Записей"), QStringLiteral("С"),
         QStringLiteral("По"), QStringLiteral("Потеряно дней"), QStringLiteral("Настройки"),
         QStringLiteral("Порт"), QStringLiteral("Чтение"), QStringLiteral("Файл")});
    visits_ = MakeTable(this);
    visits_->setModel(visitModel_);
    visits_->setSortingEnabled(false); // in the order of the visits

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(controllers_);
    splitter->addWidget(visits_);

    // The fleet beside the controllers: where its list comes from, the button, one row a
    // controller (in the list's order while collecting, most urgent first after).
    auto* fleetPanel = new QWidget(this);
    fleetSource_ = new QLabel(fleetPanel);
    fleetSource_->setWordWrap(true);
    collectButton_ = new QPushButton(QStringLiteral("Собрать сейчас"), fleetPanel);
    fleetModel_ = new QStandardItemModel(0, 6, this);
    fleetModel_->setHorizontalHeaderLabels({QStringLiteral("Порт"), QStringLiteral("Адрес"),
                                            QStringLiteral("Название"), QStringLiteral("Состояние"),
                                            QStringLiteral("Номер"),
                                            QStringLiteral("Перезапись через, дн.")});
    fleet_ = MakeTable(fleetPanel);
    fleet_->setModel(fleetModel_);
    fleet_->setSortingEnabled(false);
    // A state keeps its width while it changes; a long outcome is cut, whole in its tooltip.
    fleet_->setWordWrap(false);
    auto* fleetTop = new QHBoxLayout;
    fleetTop->addWidget(fleetSource_, 1);
    fleetTop->addWidget(collectButton_);
    auto* fleetLayout = new QVBoxLayout(fleetPanel);
    fleetLayout->setContentsMargins(0, 0, 0, 0);
    fleetLayout->addLayout(fleetTop);
    fleetLayout->addWidget(fleet_, 1);
    fleetPanel->setVisible(!options_.fleetListPath.isEmpty() || !options_.fleetServer.isEmpty());
    collector_ = new FleetWorker(this);

    auto* beside = new QSplitter(Qt::Horizontal, this);
    beside->addWidget(splitter);
    beside->addWidget(fleetPanel);
    beside->setSizes({560, 640});
    status_ = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(beside, 1);
    layout->addWidget(status_);

    connect(filter_, &QLineEdit::textChanged, filterModel_,
            &QSortFilterProxyModel::setFilterFixedString);
    connect(controllers_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &LibraryWindow::ShowVisits);
    connect(controllers_, &QTableView::doubleClicked, this, &LibraryWindow::ShowHistory);
    connect(visits_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        const QString file = visitModel_->item(index.row(), 0)->data(kFileRole).toString();
        if (!file.isEmpty())
            emit VisitOpenRequested(file);
    });
    connect(historyButton_, &QPushButton::clicked, this, &LibraryWindow::ShowHistory);
    connect(addButton_, &QPushButton::clicked, this, [this] {
        const QStringList paths =
            options_.choosePaths
                ? options_.choosePaths(this)
                : QFileDialog::getOpenFileNames(this, QStringLiteral("Добавить архивы"), QString(),
                                                QStringLiteral("Архив КВ-9000Л (*.kvarc)"));
        if (!paths.isEmpty())
            AddPaths(paths);
    });
    connect(syncButton_, &QPushButton::clicked, this, &LibraryWindow::Synchronize);
    connect(collectButton_, &QPushButton::clicked, this, &LibraryWindow::CollectFleet);
    // A shared run's list, as the collection read it from the server.
    connect(collector_, &FleetWorker::ListRead, this, &LibraryWindow::ShowCollectorRows);
    connect(collector_, &FleetWorker::RowChanged, this, [this](int row) {
        const FleetRowState& state = collector_->States().Rows().at(static_cast<std::size_t>(row));
        const auto& result = state.result;
        ShowFleetRow(row, collector_->Entries().at(static_cast<std::size_t>(row)), state.text,
                     result && result->outcome == FleetOutcome::Failed,
                     result ? result->serial : std::nullopt,
                     result ? result->overwriteFrom : std::nullopt);
    });
    connect(collector_, &FleetWorker::Finished, this, [this] {
        const FleetRunOutcome& outcome = collector_->Outcome();
        ReadFleet(); // the list's own notes again, then the run's
        if (!outcome.refusal.isEmpty()) {
            fleetNote_ +=
                (fleetNote_.isEmpty() ? QString() : QStringLiteral("\n")) + outcome.refusal;
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
        Reload(); // the controllers' days left, the run's table
        if (!options_.fleetServer.isEmpty())
            FetchServerFleet(); // the office may have changed the list meanwhile
        emit CollectionDone();
    });

    ReadFleet();
    if (!options_.fleetServer.isEmpty())
        FetchServerFleet();
    indexError_ = index_->Open(options_.indexPath);
    Reload();
}

LibraryWindow::~LibraryWindow() {
    collector_->Stop();
    stop_->store(true);
    worker_->waitForDone();
    fleetFetcher_->waitForDone();
}

bool LibraryWindow::Collecting() const {
    return collector_->Running();
}

void LibraryWindow::closeEvent(QCloseEvent* event) {
    // Each read stops within a block and keeps nothing; what was completed stays kept.
    collector_->Stop();
    QWidget::closeEvent(event);
}

int LibraryWindow::ChosenSerial() const {
    const QModelIndex current = controllers_->currentIndex();
    if (!current.isValid())
        return -1;
    return filterModel_->index(current.row(), 0).data(kSerialRole).toInt();
}

int LibraryWindow::ChosenChannels() const {
    const QModelIndex current = controllers_->currentIndex();
    if (!current.isValid())
        return 0;
    return filterModel_->index(current.row(), 0).data(kChannelsRole).toInt();
}

void LibraryWindow::Reload() {
    if (!indexError_.isEmpty()) {
        status_->setText(indexError_);
        ShowFleet();
        return;
    }
    const int chosen = ChosenSerial();
    const int chosenChannels = ChosenChannels();
    const IndexRead<std::vector<ControllerDue>> read = ControllersDue(*index_);
    if (read.Failed()) {
        status_->setText(read.error);
        return;
    }
    controllerList_.clear();
    dueBySerial_.clear();
    for (const ControllerDue& d : read) {
        controllerList_.push_back(d.controller);
        dueBySerial_[d.controller.serial] = d.overwriteFrom;
    }
    const std::vector<LibraryController>& list = controllerList_;
    const qint64 now = RecordTimeNow();
    controllers_->setSortingEnabled(false);
    controllerModel_->setRowCount(0);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const LibraryController& c = list[i];
        QList<QStandardItem*> row{Number(c.serial),
                                  Text(c.place),
                                  Text(c.identification),
                                  Number(c.channels),
                                  Number(c.visits),
                                  Text(Moment(c.first)),
                                  Text(Moment(c.last)),
                                  Text(c.lastVisit.toString(QStringLiteral("yyyy-MM-dd HH:mm"))),
                                  LostDays(c.lostSeconds),
                                  Number(static_cast<double>(c.conflicts)),
                                  DueDays(read[i].overwriteFrom, now)};
        row[0]->setData(c.serial, kSerialRole);
        row[0]->setData(c.channels, kChannelsRole);
        controllerModel_->appendRow(row);
    }
    controllers_->setSortingEnabled(true);
    controllers_->resizeColumnsToContents();
    for (int r = 0; r < filterModel_->rowCount(); ++r)
        if (filterModel_->index(r, 0).data(kSerialRole).toInt() == chosen &&
            filterModel_->index(r, 0).data(kChannelsRole).toInt() == chosenChannels)
            controllers_->setCurrentIndex(filterModel_->index(r, 0));
    if (!Working())
        status_->setText(StatusText(list.size()));
    ShowVisits();
    ShowFleet();
}

QString LibraryWindow::StatusText(std::size_t controllers) const {
    QString text = QStringLiteral("Регуляторов: %1").arg(controllers);
    if (Collecting())
        text += QStringLiteral("; идёт сбор");
    if (!fleetNote_.isEmpty())
        text += u'\n' + fleetNote_;
    return text;
}

void LibraryWindow::ReadFleet() {
    fleetNote_ = serverFleetNote_;
    fleetList_ = {};
    if (TeamFleet()) {
        fleetSource_->setText(QStringLiteral("Список регуляторов с сервера (сбор общий с другими "
                                             "сборщиками)"));
        fleetList_ = *serverFleet_;
    } else if (options_.fleetListPath.isEmpty()) {
        collectButton_->setEnabled(false);
        return;
    } else {
        const QString shown = QDir::toNativeSeparators(options_.fleetListPath);
        if (!QFileInfo::exists(options_.fleetListPath)) {
            // No fleet yet: nothing wrong, only where its list would be.
            fleetSource_->setText(QStringLiteral("Списка регуляторов нет: %1").arg(shown));
            collectButton_->setEnabled(false);
            return;
        }
        fleetSource_->setText(QStringLiteral("Список регуляторов: %1").arg(shown));
        fleetList_ = ReadFleetList(options_.fleetListPath);
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

void LibraryWindow::FetchServerFleet() {
    const QString server = options_.fleetServer;
    // A thread of its own: a server out of reach does not hold the library's work up.
    fleetFetcher_->start([this, server] {
        const PulledFleetList pulled = PullFleetList(server);
        // The window waits for the fetch before it goes (~LibraryWindow).
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
                if (!Working())
                    status_->setText(StatusText(controllerList_.size()));
            },
            Qt::QueuedConnection);
    });
}

void LibraryWindow::ShowFleetRow(int row, const FleetEntry& entry, const QString& state,
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

// While collecting the rows are the collection's; after a run in this window its table, most
// urgent first; before, the last run kept (and the list's controllers it did not have).
void LibraryWindow::ShowFleet() {
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
        const std::vector<FleetResult> kept = options_.fleetPlaces.stateFolder.isEmpty()
                                                  ? std::vector<FleetResult>()
                                                  : ReadKeptRun(options_.fleetPlaces.stateFolder);
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

void LibraryWindow::ShowCollectorRows() {
    fleetModel_->setRowCount(0);
    const std::vector<FleetEntry>& entries = collector_->Entries();
    const std::vector<FleetRowState>& states = collector_->States().Rows();
    for (std::size_t i = 0; i < entries.size() && i < states.size(); ++i)
        ShowFleetRow(static_cast<int>(i), entries[i], states[i].text, false, std::nullopt,
                     std::nullopt);
    FitFleetColumns();
}

void LibraryWindow::FitFleetColumns() {
    fleet_->resizeColumnsToContents();
    const int reading =
        fleet_->fontMetrics().horizontalAdvance(QStringLiteral("попытка 3, читается 100%")) + 12;
    fleet_->setColumnWidth(kStateColumn, reading);
}

void LibraryWindow::CollectFleet() {
    if (Collecting())
        return;
    ReadFleet();
    if (fleetList_.entries.empty()) {
        Reload();
        return;
    }
    FleetOptions options;
    options.speed = options_.fleetSpeed;
    options.jobs = options_.fleetJobs;
    if (options_.fleetPorts)
        options.ports = options_.fleetPorts();
    std::optional<FleetTeam> team;
    if (TeamFleet())
        team = FleetTeam{options_.fleetServer, options_.fleetLeaseSeconds};
    collector_->Start(fleetList_.entries, options, options_.fleetPlaces, team);
    collectButton_->setEnabled(false);
    ShowCollectorRows(); // a shared run's rows come when its collection has read the list
    if (!Working())
        status_->setText(StatusText(controllerList_.size()));
}

void LibraryWindow::ShowVisits() {
    visitModel_->setRowCount(0);
    const int serial = ChosenSerial();
    if (serial < 0)
        return;
    const IndexRead<std::vector<LibraryVisit>> visits = index_->Visits(serial, ChosenChannels());
    if (visits.Failed())
        status_->setText(visits.error);
    for (const LibraryVisit& v : visits) {
        QList<QStandardItem*> row{
            Text(v.downloadedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
            Number(static_cast<double>(v.records)),
            Text(Moment(v.oldest)),
            Text(Moment(v.newest)),
            LostDays(v.lostSeconds),
            Text(v.settingsChanged ? QStringLiteral("изменены") : QString()),
            Text(v.port),
            Text(BlocksReadText(ReadArchiveFileBlocksRead(v.file))),
            Text(QDir::toNativeSeparators(v.file))};
        row[0]->setData(v.file, kFileRole);
        visitModel_->appendRow(row);
    }
    visits_->resizeColumnsToContents();
}

void LibraryWindow::ShowHistory() {
    const int serial = ChosenSerial();
    const int channels = ChosenChannels();
    if (serial < 0)
        return;
    const IndexRead<std::vector<ChannelSeries>> history = index_->History(serial, channels);
    if (history.Failed()) {
        status_->setText(history.error);
        return;
    }
    ArchiveFileContents controller; // the identity the title needs, no image
    controller.serial = static_cast<std::uint16_t>(serial);
    for (const LibraryController& c : controllerList_)
        if (c.serial == serial && c.channels == channels) {
            controller.identification = c.identification;
            controller.channelCount = c.channels;
        }
    if (!history_)
        history_ = new ChartWindow({}, this);
    history_->ShowHistory(controller, history);
    history_->show();
    history_->raise();
    history_->activateWindow();
}

void LibraryWindow::RunJob(std::function<QString(LibraryIndex&)> job) {
    ++working_;
    status_->setText(QStringLiteral("Идёт работа с библиотекой…"));
    const QString path = options_.indexPath;
    worker_->start([this, path, job = std::move(job)] {
        QString message;
        {
            LibraryIndex index;
            message = index.Open(path);
            if (message.isEmpty())
                message = job(index);
        }
        // The window waits for the worker before it goes (~LibraryWindow).
        QMetaObject::invokeMethod(
            this,
            [this, message] {
                --working_;
                Reload();
                if (!message.isEmpty())
                    status_->setText(message);
                emit WorkDone();
            },
            Qt::QueuedConnection);
    });
}

namespace {

QString Summary(const IndexReport& report) {
    QString text = QStringLiteral("Добавлено архивов: %1, уже были: %2, отклонено: %3")
                       .arg(report.added)
                       .arg(report.alreadyThere)
                       .arg(report.refused.size());
    if (report.restored > 0)
        text += QStringLiteral("\nВосстановлено удалённых файлов архивов: %1").arg(report.restored);
    for (const IndexReport::Refusal& r : report.refused)
        text += QStringLiteral("\n%1: %2").arg(QDir::toNativeSeparators(r.path), r.cause);
    return text;
}

} // namespace

void LibraryWindow::AddPaths(const QStringList& paths) {
    const QString folder = options_.archivesFolder;
    RunJob([paths, folder](LibraryIndex& index) { return Summary(index.Import(paths, folder)); });
}

void LibraryWindow::CatchUp() {
    const QString folder = options_.archivesFolder;
    const auto stop = stop_;
    RunJob([folder, stop](LibraryIndex& index) {
        const IndexReport report = index.CatchUp(folder, stop.get());
        return report.added == 0 && report.refused.empty() ? QString() : Summary(report);
    });
}

void LibraryWindow::Synchronize() {
    if (!options_.sync)
        return;
    auto sync = options_.sync;
    RunJob([sync](LibraryIndex& index) { return sync(index); });
}
