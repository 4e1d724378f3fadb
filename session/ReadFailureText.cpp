#include "ReadFailureText.h"

namespace {

QString FailureCounts(const ControllerRead& read) {
    return QStringLiteral("ошибок передачи %1, ошибок приёма %2")
        .arg(read.download.txFailures)
        .arg(read.download.rxFailures);
}

} // namespace

QString ReadFailureText(const ControllerRead& read, const QString& name, int address) {
    // The identity read comes before the download: a failure there names its step.
    const QString during = read.identity.error.isEmpty()
                               ? FailureCounts(read)
                               : QStringLiteral("при чтении идентификации");
    switch (read.outcome) {
    case ControllerReadOutcome::NoController:
        return QStringLiteral("%1: регулятор не обнаружен (адрес %2)").arg(name).arg(address);
    case ControllerReadOutcome::TxError:
        return QStringLiteral("%1: TX Error (%2)").arg(name, during);
    case ControllerReadOutcome::RxError:
        return QStringLiteral("%1: RX Error (%2)").arg(name, during);
    case ControllerReadOutcome::PortLost:
        return QStringLiteral("%1: порт пропал во время чтения (%2)").arg(name, during);
    case ControllerReadOutcome::Cancelled:
        return QStringLiteral("%1: чтение прервано").arg(name);
    case ControllerReadOutcome::Completed:
        break;
    }
    return {};
}
