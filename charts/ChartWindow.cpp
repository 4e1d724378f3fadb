#include "ChartWindow.h"

#include "ArchiveComparison.h"
#include "ChannelChart.h"
#include "ChartFile.h"
#include "FindingSpans.h"
#include "Findings.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QVBoxLayout>

ChartWindow::ChartWindow(ChartWindowOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window), options_(std::move(options)) {
    if (!options_.dialogs)
        options_.dialogs = MakeQtChartDialogs(this);
    setWindowTitle(QStringLiteral("Графики"));
    resize(1200, 720);

    wholeButton_ = new QPushButton(QStringLiteral("Весь архив"), this);
    compareButton_ = new QPushButton(QStringLiteral("Сравнить с архивом…"), this);
    saveButton_ = new QPushButton(QStringLiteral("Сохранить график…"), this);
    copyButton_ = new QPushButton(QStringLiteral("Копировать"), this);
    wholeButton_->setToolTip(QStringLiteral("Показать весь архив по времени (Home)"));
    copyButton_->setToolTip(QStringLiteral("Копировать график в буфер обмена"));
    auto* hint = new QLabel(QStringLiteral("Колесо — масштаб, перетаскивание — сдвиг, правая "
                                           "кнопка — выделить участок, двойной щелчок — строка "
                                           "таблицы"),
                            this);
    hint->setStyleSheet(QStringLiteral("color: gray"));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {wholeButton_, compareButton_, saveButton_, copyButton_})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(hint);

    // The findings beside the charts; a click zooms to one.
    auto* split = new QSplitter(Qt::Horizontal, this);
    tabs_ = new QTabWidget(split);
    findingsList_ = new QListWidget(split);
    findingsList_->setWordWrap(true);
    findingsList_->setToolTip(
        QStringLiteral("Находки в архиве; щелчок показывает находку на графике"));
    split->addWidget(tabs_);
    split->addWidget(findingsList_);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    connect(findingsList_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { ShowFinding(findingsList_->row(item)); });
    summary_ = new QLabel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(split, 1);
    layout->addWidget(summary_);

    connect(wholeButton_, &QPushButton::clicked, this, [this] {
        if (ChannelChart* chart = CurrentChart())
            chart->ShowWholeArchive();
    });
    new QShortcut(Qt::Key_Home, wholeButton_, [this] { wholeButton_->click(); });
    connect(compareButton_, &QPushButton::clicked, this, &ChartWindow::CompareWithArchive);
    connect(saveButton_, &QPushButton::clicked, this, &ChartWindow::SaveChartAs);
    connect(copyButton_, &QPushButton::clicked, this, &ChartWindow::CopyChart);
    connect(tabs_, &QTabWidget::currentChanged, this, [this] { summary_->setText(SummaryText()); });
}

ChartWindow::~ChartWindow() = default;

void ChartWindow::ShowArchive(const ArchiveFileContents& archive, const QString& path,
                              const QString& controllerFolder) {
    history_ = false;
    shown_ = archive;
    shownPath_ = path;
    controllerFolder_ = controllerFolder;
    series_ = ExtractChartSeries(archive.image, archive.channelCount);
    if (comparison_ && !ComparisonRefusal(shown_, *comparison_).isEmpty()) {
        comparison_.reset();
        comparisonPath_.clear();
        comparisonSeries_.clear();
    }
    setWindowTitle(QStringLiteral("Графики — ") + DescribeController(shown_, shownPath_));
    ClearFindings();
    // The findings (their list's layout and the spans on the charts cost as much as the charts
    // themselves) follow the charts' first paint; without a chart there is nothing to wait for.
    findingsDue_ = true;
    Redraw();
    if (charts_.empty())
        ListFindings();
}

bool ChartWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && findingsDue_)
        QMetaObject::invokeMethod(this, &ChartWindow::ListFindings, Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

void ChartWindow::ClearFindings() {
    findingsDue_ = false;
    findings_.clear();
    findingsList_->clear();
    for (ChannelChart* chart : charts_)
        DrawFindingSpans(chart->TimePlot(), {});
}

void ChartWindow::ListFindings() {
    if (!findingsDue_)
        return;
    findingsDue_ = false;
    FindingsInput input;
    input.image = shown_.image;
    input.channelCount = shown_.channelCount;
    input.downloadedAt = shown_.downloadedAt;
    FindingsResult found = FindFindings(input, series_);
    findings_ = std::move(found.findings);
    for (const Finding& f : findings_)
        findingsList_->addItem(QStringLiteral("Канал %1, %2: %3")
                                   .arg(f.channel)
                                   .arg(FindingKindTitle(f.kind), f.detail));
    if (!found.notJudged.isEmpty())
        findingsList_->addItem(QStringLiteral("Архив не проверен на находки: ") + found.notJudged);
    else if (findings_.empty())
        findingsList_->addItem(QStringLiteral("Находок нет"));
    for (std::size_t k = 0; k < charts_.size(); ++k) {
        std::vector<Finding> mine;
        for (const Finding& f : findings_)
            if (f.channel == static_cast<int>(k) + 1)
                mine.push_back(f);
        DrawFindingSpans(charts_[k]->TimePlot(), mine);
        if (charts_[k]->isVisible())
            charts_[k]->TimePlot()->replot();
    }
    emit FindingsListed();
}

void ChartWindow::ShowFinding(int index) {
    if (index < 0 || index >= static_cast<int>(findings_.size()))
        return;
    const Finding& f = findings_[static_cast<std::size_t>(index)];
    ChannelChart* chart = Channel(f.channel - 1);
    if (!chart)
        return;
    tabs_->setCurrentIndex(f.channel - 1);
    ZoomToFinding(chart->TimePlot(), f);
}

void ChartWindow::ShowHistory(const ArchiveFileContents& controller,
                              std::vector<ChannelSeries> series) {
    history_ = true;
    shown_ = {};
    shown_.channelCount = controller.channelCount;
    shown_.serial = controller.serial;
    shown_.identification = controller.identification;
    shownPath_.clear();
    controllerFolder_.clear();
    series_ = std::move(series);
    comparison_.reset();
    comparisonPath_.clear();
    comparisonSeries_.clear();
    ClearFindings(); // the findings are an archive's, not a merged history's
    setWindowTitle(QStringLiteral("История — ") + DescribeController(shown_, shownPath_));
    Redraw();
}

void ChartWindow::Redraw() {
    const int channels = static_cast<int>(series_.size());
    while (static_cast<int>(charts_.size()) < channels) {
        auto* chart = new ChannelChart(tabs_);
        const int channel = static_cast<int>(charts_.size()) + 1;
        chart->TimePlot()->installEventFilter(this); // its first paint brings the findings
        connect(chart, &ChannelChart::RecordActivated, this,
                [this, channel](int row) { emit RecordActivated(channel, row); });
        tabs_->addTab(chart, QStringLiteral("Канал %1").arg(channel));
        charts_.push_back(chart);
    }
    while (static_cast<int>(charts_.size()) > channels) {
        delete charts_.back();
        charts_.pop_back();
    }
    for (int k = 0; k < channels; ++k)
        charts_[k]->SetSeries(series_[k], k < static_cast<int>(comparisonSeries_.size())
                                              ? &comparisonSeries_[k]
                                              : nullptr);
    const bool any = channels > 0;
    for (QPushButton* b : {wholeButton_, compareButton_, saveButton_, copyButton_})
        b->setEnabled(any);
    compareButton_->setEnabled(any && !history_);
    summary_->setText(SummaryText());
}

QString ChartWindow::SummaryText() const {
    const int k = tabs_->currentIndex();
    if (k < 0 || k >= static_cast<int>(series_.size()))
        return QStringLiteral("Архив не загружен");
    const ChannelSeries& s = series_[k];
    QString text = QStringLiteral("Записей на графике: %1").arg(s.time.size());
    if (s.invalidTimes > 0)
        text += QStringLiteral("; без верной даты и времени (не показаны): %1").arg(s.invalidTimes);
    if (comparison_)
        text += QStringLiteral("; бледным — архив для сравнения %1")
                    .arg(QFileInfo(comparisonPath_).fileName());
    return text;
}

void ChartWindow::CompareWithArchive() {
    QString offered = PreviousArchiveFile(controllerFolder_, shownPath_, shown_.downloadedAt);
    if (offered.isEmpty())
        offered = controllerFolder_;
    const QString path = options_.dialogs->OpenArchive(offered);
    if (!path.isEmpty())
        CompareWith(path);
}

bool ChartWindow::CompareWith(const QString& path) {
    ArchiveFileReadResult read =
        options_.readArchive ? options_.readArchive(path) : ReadArchiveFile(path);
    if (!read.contents) {
        options_.dialogs->Warn(QStringLiteral("Архив %1 не открыт: %2").arg(path, read.error));
        return false;
    }
    const QString refusal = ComparisonRefusal(shown_, *read.contents);
    if (!refusal.isEmpty()) {
        options_.dialogs->Warn(refusal);
        return false;
    }
    comparison_ = std::move(read.contents);
    comparisonPath_ = path;
    comparisonSeries_ = ExtractChartSeries(comparison_->image, comparison_->channelCount);
    Redraw();
    return true;
}

ChannelChart* ChartWindow::CurrentChart() const {
    return qobject_cast<ChannelChart*>(tabs_->currentWidget());
}

int ChartWindow::ChannelTabCount() const {
    return static_cast<int>(charts_.size());
}

ChannelChart* ChartWindow::Channel(int index) const {
    return index >= 0 && index < ChannelTabCount() ? charts_[index] : nullptr;
}

QString ChartWindow::SaveChart(const QString& path) const {
    const ChannelChart* chart = CurrentChart();
    if (!chart)
        return QStringLiteral("Нет графика");
    return WriteChartFile(path, chart->PictureSize(),
                          [chart](QCPPainter& p, QSize size) { chart->Paint(p, size); });
}

void ChartWindow::SaveChartAs() {
    const int channel = tabs_->currentIndex() + 1;
    QString proposed = lastSavePath_;
    if (proposed.isEmpty()) {
        const QString folder =
            shownPath_.isEmpty() ? QDir::homePath() : QFileInfo(shownPath_).absolutePath();
        const QString base =
            shownPath_.isEmpty() ? QStringLiteral("график") : QFileInfo(shownPath_).baseName();
        proposed = QDir(folder).filePath(QStringLiteral("%1_канал%2.png").arg(base).arg(channel));
    }
    const QString path = options_.dialogs->SaveChart(proposed);
    if (path.isEmpty())
        return;
    lastSavePath_ = path;
    const QString error = SaveChart(path);
    if (!error.isEmpty())
        options_.dialogs->Warn(error);
}

void ChartWindow::CopyChart() {
    const ChannelChart* chart = CurrentChart();
    if (!chart)
        return;
    QApplication::clipboard()->setImage(RenderChartImage(
        chart->PictureSize(), [chart](QCPPainter& p, QSize size) { chart->Paint(p, size); }));
}
