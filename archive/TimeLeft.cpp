#include "TimeLeft.h"

#include <cmath>

std::optional<int> EstimateSecondsLeft(long long done, long long total, double elapsedSeconds) {
    if (done <= 0 || total <= 0 || elapsedSeconds < 0.5)
        return std::nullopt;
    if (done >= total)
        return 0;
    const double left =
        elapsedSeconds * static_cast<double>(total - done) / static_cast<double>(done);
    return static_cast<int>(std::ceil(left));
}

QString FormatTimeLeft(int seconds) {
    seconds = std::max(seconds, 0);
    const int h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    const QString ss = QStringLiteral("%1").arg(s, 2, 10, QChar('0'));
    if (h > 0)
        return QStringLiteral("осталось %1:%2:%3").arg(h).arg(m, 2, 10, QChar('0')).arg(ss);
    return QStringLiteral("осталось %1:%2").arg(m).arg(ss);
}
