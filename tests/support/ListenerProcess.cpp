#include "ListenerProcess.h"

#include "Loopback.h"

#include <QElapsedTimer>

ListenerProcess::ListenerProcess(const QString& program, const QProcessEnvironment& environment,
                                 [[maybe_unused]] const std::function<void()>& inChild)
    : process_(std::make_unique<QProcess>()), port_(FreeTcpPort()) {
    process_->setProcessEnvironment(environment);
#ifndef Q_OS_WIN
    if (inChild)
        process_->setChildProcessModifier(inChild);
#endif
    process_->start(program, {QStringLiteral("--listen"), Address()});
    listening_ = WaitForLog(QStringLiteral("принимаются"), 10000);
}

ListenerProcess::~ListenerProcess() {
    process_->terminate();
    if (!process_->waitForFinished(5000)) {
        process_->kill();
        process_->waitForFinished();
    }
}

QString ListenerProcess::Address() const {
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

bool ListenerProcess::WaitForLog(const QString& text, int timeoutMs, int count) {
    QElapsedTimer clock;
    clock.start();
    while (log_.count(text) < count) {
        if (clock.elapsed() > timeoutMs || process_->state() == QProcess::NotRunning)
            return false;
        process_->waitForReadyRead(100);
        log_ += QString::fromUtf8(process_->readAllStandardError());
    }
    return true;
}
