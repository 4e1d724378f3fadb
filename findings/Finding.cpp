#include "Finding.h"

#include <QDateTime>

#include <cmath>

QString FindingKindId(FindingKind kind) {
    static const char* const kIds[FindingKindCount] = {
        "sensor-missing", "sensor-stuck", "return-above-supply", "off-curve",
        "log-gap",        "clock-jump",   "relay-cycling",       "settings-changed"};
    return QString::fromLatin1(kIds[static_cast<int>(kind)]);
}

QString FindingKindTitle(FindingKind kind) {
    static const char* const kTitles[FindingKindCount] = {
        "Датчик не отвечает", "Датчик застыл", "Обратка выше подачи", "Подача вне графика",
        "Пропуск в журнале",  "Сбой часов",    "Реле переключается",  "Изменены настройки"};
    return QString::fromUtf8(kTitles[static_cast<int>(kind)]);
}

QString FindingTimeText(qint64 seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString FindingTimeShort(qint64 seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC)
        .toString(QStringLiteral("dd.MM.yyyy HH:mm"));
}

QString FindingDuration(qint64 seconds) {
    const qint64 minutes = (std::max<qint64>(0, seconds) + 30) / 60;
    const qint64 days = minutes / 1440, hours = minutes % 1440 / 60, mins = minutes % 60;
    QStringList parts;
    if (days > 0)
        parts << QStringLiteral("%1 сут").arg(days);
    if (hours > 0)
        parts << QStringLiteral("%1 ч").arg(hours);
    if (mins > 0 && days == 0)
        parts << QStringLiteral("%1 мин").arg(mins);
    return parts.isEmpty() ? QStringLiteral("0 мин") : parts.join(QLatin1Char(' '));
}

QString FindingDegrees(double degrees) {
    return QString::number(std::round(degrees * 10.0) / 10.0, 'f', 1)
        .replace(QLatin1Char('.'), QLatin1Char(','));
}
