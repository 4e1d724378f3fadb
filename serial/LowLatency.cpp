#include "LowLatency.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

QString DescribeLowLatency(LowLatencyOutcome outcome) {
    switch (outcome) {
    case LowLatencyOutcome::Applied:
        return QStringLiteral("включена");
    case LowLatencyOutcome::AlreadySet:
        return QStringLiteral("была включена");
    case LowLatencyOutcome::Refused:
        return QStringLiteral("драйвер отказал");
    case LowLatencyOutcome::NotSerialPort:
        break;
    }
    return QStringLiteral("не последовательный порт");
}

std::optional<int> ReadLatencyTimerMs(const QString& sysRoot, const QString& deviceNode) {
    QFile file(sysRoot + QStringLiteral("/class/tty/") + QFileInfo(deviceNode).fileName() +
               QStringLiteral("/device/latency_timer"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const int ms = file.read(16).trimmed().toInt(&ok);
    return ok ? std::optional<int>(ms) : std::nullopt;
}

namespace {

struct Records {
    QMutex mutex;
    QHash<QString, LowLatencyReport> byDevice;
};

Records& TheRecords() {
    static Records records;
    return records;
}

} // namespace

void RecordLowLatency(const QString& deviceNode, LowLatencyReport report) {
    QMutexLocker lock(&TheRecords().mutex);
    TheRecords().byDevice.insert(deviceNode, report);
}

std::optional<LowLatencyReport> RecordedLowLatency(const QString& deviceNode) {
    QMutexLocker lock(&TheRecords().mutex);
    const auto it = TheRecords().byDevice.constFind(deviceNode);
    if (it == TheRecords().byDevice.constEnd())
        return std::nullopt;
    return *it;
}
