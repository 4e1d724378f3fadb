#include "LibraryWindow.h"

#include "ArchiveFile.h"
#include "BlocksReadText.h"
#include "ChartWindow.h"
#include "LibraryDue.h"
#include "LibraryFleetPanel.h"
#include "LibraryIndex.h"
#include "LibraryReport.h"
#include "LibraryWindowCells.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QThreadPool>
#include <QVBoxLayout>

#include <map>
#include <optional>

using namespace librarycells;

namespace {

constexpr int kSerialRole = Qt::UserRole + 1;
constexpr int kFileRole = Qt::UserRole + 2;
constexpr int kChannelsRole = Qt::UserRole + 3;

QString Moment(const std::optional<qint64>& seconds) {
    return seconds ? FormatRecordTime(*seconds) : QString();
}

} // namespace

LibraryWindow::LibraryWindow(LibraryWindowOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window), options_(std::move(options)),
      index_(std::make_unique<LibraryIndex>()), worker_(std::make_unique<QThreadPool>()),
      stop_(std::make_shared<std::atomic<bool>>(false)) {
    setObjectName(QStringLiteral("LibraryWindow"));
    setWindowTitle(QStringLiteral("Библиотека архивов"));
    resize(1200, 700);
    worker_->setMaxThreadCount(1);

    QLayout* top = BuildTopRow();
    QWidget* controllerViews = BuildControllerViews();
    fleetPanel_ = BuildFleetPanel();
    auto* beside = new QSplitter(Qt::Horizontal, this);
    beside->addWidget(controllerViews);
    beside->addWidget(fleetPanel_);
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
    connect(fleetPanel_, &LibraryFleetPanel::FleetChanged, this, &LibraryWindow::Reload);
    connect(fleetPanel_, &LibraryFleetPanel::CollectionDone, this, &LibraryWindow::CollectionDone);
    connect(fleetPanel_, &LibraryFleetPanel::NoteChanged, this, [this] {
        if (!Working())
            status_->setText(StatusText(controllerList_.size()));
    });

    indexError_ = index_->Open(options_.indexPath);
    Reload();
}

// The filter and the buttons above the controllers.
QLayout* LibraryWindow::BuildTopRow() {
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
    return top;
}

// The controllers, filtered as one types, above the visits of the one chosen.
QWidget* LibraryWindow::BuildControllerViews() {
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
    return splitter;
}

// The fleet beside the controllers, with the window's fleet options.
LibraryFleetPanel* LibraryWindow::BuildFleetPanel() {
    return new LibraryFleetPanel(options_.fleet, this);
}

LibraryWindow::~LibraryWindow() {
    fleetPanel_->Stop();
    stop_->store(true);
    worker_->waitForDone();
}

void LibraryWindow::closeEvent(QCloseEvent* event) {
    fleetPanel_->Stop();
    QWidget::closeEvent(event);
}

void LibraryWindow::CollectFleet() {
    fleetPanel_->CollectFleet();
}

QTableView* LibraryWindow::Fleet() const {
    return fleetPanel_->Fleet();
}

QPushButton* LibraryWindow::CollectButton() const {
    return fleetPanel_->CollectButton();
}

bool LibraryWindow::Collecting() const {
    return fleetPanel_->Collecting();
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
        fleetPanel_->ShowFleet();
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
    std::map<int, std::optional<qint64>> dueBySerial; // for the fleet's rows
    for (const ControllerDue& d : read) {
        controllerList_.push_back(d.controller);
        dueBySerial[d.controller.serial] = d.overwriteFrom;
    }
    fleetPanel_->SetDueBySerial(std::move(dueBySerial));
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
    fleetPanel_->ShowFleet();
}

QString LibraryWindow::StatusText(std::size_t controllers) const {
    QString text = QStringLiteral("Регуляторов: %1").arg(controllers);
    if (Collecting())
        text += QStringLiteral("; идёт сбор");
    if (const QString& note = fleetPanel_->Note(); !note.isEmpty())
        text += u'\n' + note;
    return text;
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
