#include "PortDoctorWindow.h"

#include "NetworkPort.h"
#include "PortProbe.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <stdexcept>

namespace {

enum Column { kPort, kNode, kById, kDriver, kUsb, kLatency, kState, kCause, kAnswer, kColumns };

QString LatencyText(const PortRow& row) {
    if (row.network)
        return row.roundTripMs ? QStringLiteral("сеть %1 мс").arg(*row.roundTripMs) : QString();
    QString text =
        row.latencyTimerMs ? QStringLiteral("%1 мс").arg(*row.latencyTimerMs) : QString();
    if (!row.lowLatency.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral("; ")) + row.lowLatency;
    return text;
}

} // namespace

PortDoctorWindow::PortDoctorWindow(PortDoctorHooks hooks, SurveyRoots roots, QWidget* parent)
    : QWidget(parent, Qt::Window), hooks_(std::move(hooks)), roots_(std::move(roots)) {
    setObjectName(QStringLiteral("PortDoctorWindow"));
    setWindowTitle(QStringLiteral("Диагностика порта"));
    Table = new QTableWidget(0, kColumns, this);
    Table->setHorizontalHeaderLabels(
        {QStringLiteral("COM"), QStringLiteral("Устройство"), QStringLiteral("by-id"),
         QStringLiteral("Драйвер"), QStringLiteral("USB"), QStringLiteral("Задержка"),
         QStringLiteral("Состояние"), QStringLiteral("Причина и что сделать"),
         QStringLiteral("Ответ")});
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::SingleSelection);
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setStretchLastSection(true);
    Table->setWordWrap(true);
    RefreshButton = new QPushButton(QStringLiteral("Обновить"), this);
    CheckButton = new QPushButton(QStringLiteral("Проверить"), this);
    AssignButton = new QPushButton(QStringLiteral("Назначить номер COM…"), this);
    NetworkButton = new QPushButton(QStringLiteral("Сетевой порт…"), this);
    NetworkButton->setToolTip(
        QStringLiteral("Дать номер COM порту сервера последовательных портов: "
                       "tcp://АДРЕС:ПОРТ или rfc2217://АДРЕС:ПОРТ"));
    Notes = new QLabel(this);
    Notes->setWordWrap(true);
    Notes->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(RefreshButton);
    buttons->addWidget(CheckButton);
    buttons->addWidget(AssignButton);
    buttons->addWidget(NetworkButton);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Table, 1);
    layout->addWidget(Notes);
    layout->addLayout(buttons);
    resize(980, 360);

    connect(RefreshButton, &QPushButton::clicked, this, &PortDoctorWindow::Refresh);
    connect(CheckButton, &QPushButton::clicked, this, &PortDoctorWindow::CheckPorts);
    connect(AssignButton, &QPushButton::clicked, this, &PortDoctorWindow::AskAndAssign);
    connect(NetworkButton, &QPushButton::clicked, this, &PortDoctorWindow::AskAndAssignNetwork);
    Refresh();
}

void PortDoctorWindow::Refresh() {
    if (checking_)
        return;
    report_ = SurveyPorts(Ports(), roots_, SurveyUser::Current());
    ShowReport();
}

void PortDoctorWindow::ShowReport() {
    Table->setRowCount(static_cast<int>(report_.rows.size()));
    for (int r = 0; r < Table->rowCount(); ++r) {
        const PortRow& row = report_.rows[static_cast<std::size_t>(r)];
        const QString cause =
            row.cause.isEmpty() ? QString() : row.cause + QStringLiteral(". ") + row.cure;
        const QString texts[kColumns] = {QStringLiteral("COM%1").arg(row.port),
                                         row.node,
                                         row.byId,
                                         row.driver,
                                         (row.usbId + ' ' + row.usbName).trimmed(),
                                         LatencyText(row),
                                         DescribeRowState(row),
                                         cause,
                                         row.answer};
        for (int c = 0; c < kColumns; ++c) {
            auto* item = new QTableWidgetItem(texts[c]);
            item->setToolTip(texts[c]);
            Table->setItem(r, c, item);
        }
    }
    Table->resizeColumnsToContents();
    QStringList notes = report_.notes;
    if (report_.rows.empty())
        notes.prepend(QStringLiteral("Последовательных портов не найдено: подключите адаптер."));
    Notes->setText(notes.join('\n'));
    Notes->setVisible(!notes.isEmpty());
}

void PortDoctorWindow::CheckPorts() {
    if (checking_)
        return;
    if (hooks_.linkBusy && hooks_.linkBusy()) {
        Notes->setText(QStringLiteral("Идёт обмен с регулятором: проверьте порты после него."));
        Notes->show();
        return;
    }
    checking_ = true;
    CheckButton->setEnabled(false);
    CheckReadyPorts(
        report_, Ports(), hooks_.speed, [this] { return hooks_.linkBusy && hooks_.linkBusy(); },
        [this](std::size_t row) {
            ShowReport();
            Table->selectRow(static_cast<int>(row));
            QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        },
        hooks_.address ? hooks_.address() : std::uint8_t{1});
    ShowReport();
    CheckButton->setEnabled(true);
    checking_ = false;
}

bool PortDoctorWindow::AssignPort(int row, int port) {
    if (row < 0 || row >= static_cast<int>(report_.rows.size()))
        return false;
    return Assign(port, report_.rows[static_cast<std::size_t>(row)].node);
}

bool PortDoctorWindow::AssignNetworkPort(const QString& address, int port) {
    const NetworkPortParse parse = ParseNetworkPort(address.trimmed());
    if (!parse.ok) {
        Notes->setText(QStringLiteral("«%1» не сетевой порт: %2. Нужно tcp://АДРЕС:ПОРТ или "
                                      "rfc2217://АДРЕС:ПОРТ.")
                           .arg(address.trimmed(), parse.cause));
        Notes->show();
        return false;
    }
    return Assign(port, parse.port.Text());
}

bool PortDoctorWindow::Assign(int port, const QString& device) {
    if (port < 1 || !hooks_.assignPort)
        return false;
    try {
        hooks_.assignPort(port, device);
    } catch (const std::exception& e) {
        Notes->setText(QString::fromUtf8(e.what()));
        Notes->show();
        return false;
    }
    Refresh();
    return true;
}

void PortDoctorWindow::AskAndAssign() {
    const int row = Table->currentRow();
    if (row < 0 || row >= static_cast<int>(report_.rows.size()))
        return;
    bool ok = false;
    const int port = QInputDialog::getInt(
        this, windowTitle(),
        QStringLiteral("Номер COM для %1:").arg(report_.rows[static_cast<std::size_t>(row)].node),
        report_.rows[static_cast<std::size_t>(row)].port, 1, 255, 1, &ok);
    if (ok)
        AssignPort(row, port);
}

void PortDoctorWindow::AskAndAssignNetwork() {
    bool ok = false;
    const QString address =
        QInputDialog::getText(this, windowTitle(),
                              QStringLiteral("Адрес порта на сервере последовательных портов\n"
                                             "(tcp://АДРЕС:ПОРТ или rfc2217://АДРЕС:ПОРТ):"),
                              QLineEdit::Normal, QStringLiteral("tcp://"), &ok);
    if (!ok)
        return;
    const int port = QInputDialog::getInt(
        this, windowTitle(), QStringLiteral("Номер COM для %1:").arg(address.trimmed()), 20, 1, 255,
        1, &ok);
    if (ok)
        AssignNetworkPort(address, port);
}
