// The survey's findings in words and the check of each port: the same on every platform.

#include "PortSurvey.h"

#include "Cp1251.h"
#include "Discovery.h"
#include "FrameLink.h"
#include "LowLatency.h"

QString DescribeState(PortState state) {
    switch (state) {
    case PortState::Ready:
        return QStringLiteral("доступен");
    case PortState::NoPermission:
        return QStringLiteral("нет прав");
    case PortState::NewLoginNeeded:
        return QStringLiteral("нужен новый вход");
    case PortState::Busy:
        return QStringLiteral("занят");
    case PortState::Missing:
        return QStringLiteral("нет устройства");
    case PortState::NotSerial:
        break;
    }
    return QStringLiteral("не порт");
}

QString FormatSurveyText(const SurveyReport& report) {
    QString out;
    if (report.rows.empty())
        out += QStringLiteral("Последовательных портов не найдено.\n");
    for (const PortRow& row : report.rows) {
        out += QStringLiteral("COM%1  %2  — %3\n")
                   .arg(row.port)
                   .arg(row.node, DescribeState(row.state));
        if (!row.byId.isEmpty())
            out += QStringLiteral("  by-id: %1\n").arg(row.byId);
        if (!row.driver.isEmpty() || !row.usbId.isEmpty()) {
            out += QStringLiteral("  драйвер: %1")
                       .arg(row.driver.isEmpty() ? QStringLiteral("?") : row.driver);
            if (!row.usbId.isEmpty())
                out += QStringLiteral("; USB: %1 %2").arg(row.usbId, row.usbName).trimmed();
            out += '\n';
        }
        if (row.latencyTimerMs || !row.lowLatency.isEmpty())
            out += QStringLiteral("  таймер задержки: %1; низкая задержка: %2\n")
                       .arg(row.latencyTimerMs ? QStringLiteral("%1 мс").arg(*row.latencyTimerMs)
                                               : QStringLiteral("?"),
                            row.lowLatency.isEmpty() ? QStringLiteral("порт не открывался")
                                                     : row.lowLatency);
        if (!row.cause.isEmpty())
            out += QStringLiteral("  причина: %1\n  что сделать: %2\n").arg(row.cause, row.cure);
        if (!row.answer.isEmpty())
            out += QStringLiteral("  ответ: %1\n").arg(row.answer);
    }
    for (const QString& note : report.notes)
        out += note + '\n';
    return out;
}

void CheckReadyPorts(SurveyReport& report, int speed, const std::function<bool()>& stop,
                     const std::function<void(std::size_t)>& afterEach) {
    for (std::size_t r = 0; r < report.rows.size(); ++r) {
        if (stop && stop())
            break;
        PortRow& row = report.rows[r];
        // A port this user cannot open, or that is gone, is not asked.
        row.answer = row.state == PortState::Ready ? ProbeIdentification(row.port, speed)
                                                   : QStringLiteral("—");
        if (const auto opened = RecordedLowLatency(row.node))
            row.lowLatency = DescribeLowLatency(opened->outcome);
        if (afterEach)
            afterEach(r);
    }
}

QString ProbeIdentification(int port, int speed) {
    const int previous = CurrentPort();
    const std::uint8_t address = DeviceAddress;
    QByteArray text;
    bool opened = true;
    bool answered = false;
    if (port == previous) {
        answered = ReadIdentification(text);
    } else {
        opened = ProbePort(port) && OpenPort(port, speed);
        answered = opened && ReadIdentification(text);
        OpenPort(previous, speed);
    }
    // The answer names the address it came from; the program's address stays as it was.
    DeviceAddress = address;
    if (answered)
        return FromCp1251(text);
    return opened ? QStringLiteral("нет ответа") : QStringLiteral("не открывается");
}
