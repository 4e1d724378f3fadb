// The survey's findings in words and the check of each port: the same on every platform.

#include "PortSurvey.h"

#include "LowLatency.h"
#include "OneLinePath.h"

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

QString DescribeRowState(const PortRow& row) {
    if (row.openHere)
        return QStringLiteral("открыт этой программой");
    if (row.network)
        return row.box.isEmpty() ? QStringLiteral("сетевой порт")
                                 : QStringLiteral("устройство ") + row.box;
    return DescribeState(row.state);
}

QString FormatSurveyText(const SurveyReport& report) {
    QString out;
    if (report.rows.empty())
        out += QStringLiteral("Последовательных портов не найдено.\n");
    for (const PortRow& row : report.rows) {
        out += QStringLiteral("COM%1  %2  — %3\n")
                   .arg(row.port)
                   .arg(ShownName(row.node), DescribeRowState(row));
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
        if (row.roundTripMs)
            out += QStringLiteral("  круговая задержка сети: %1 мс\n").arg(*row.roundTripMs);
        if (!row.cause.isEmpty())
            out += QStringLiteral("  причина: %1\n  что сделать: %2\n").arg(row.cause, row.cure);
        if (!row.answer.isEmpty())
            out += QStringLiteral("  ответ: %1\n").arg(row.answer);
    }
    for (const QString& note : report.notes)
        out += note + '\n';
    return out;
}
