#include "DialinTransport.h"

#include "DeviceHold.h"
#include "DialinChannel.h"
#include "NetworkPort.h"
#include "NetworkStream.h"
#include "OneLinePath.h"

#include <QElapsedTimer>
#include <QLocalSocket>

#include <algorithm>
#include <chrono>

namespace {

// How long the stream stays quiet after a time-out before the next request at least, as for a
// box on the network.
constexpr int LateAnswerQuietMs = 50;
constexpr int MaxLateAnswerDrainMs = 1000;

class DialinTransport final : public SerialTransport, public NetworkStream {
public:
    explicit DialinTransport(const QString& holdFolder) : hold_(holdFolder) {}
    bool Open(const QString& device, std::int32_t speed) override;
    bool SetMode8N1() override { return IsOpen(); }
    TransportResult DiscardInput() override;
    TransportResult Write(std::span<const std::uint8_t> bytes, int timeoutMs) override;
    TransportResult Read(std::vector<std::uint8_t>& into, int timeoutMs) override;
    void SetResponsive(bool) override {}
    void AnswerMissed(int mayStillComeMs) override {
        lateQuietMs_ = std::max(LateAnswerQuietMs, mayStillComeMs);
    }
    std::optional<int> RoundTripMs() const override { return roundTripMs_; }
    QString OpenFailure() const override { return openFailure_; }
    bool OpenBusy() const override { return busy_; }
    QString OpenNotice() const override { return {}; }
    QString ReachedVia() const override { return peer_; }

private:
    bool IsOpen() const {
        return socket_ && socket_->state() == QLocalSocket::ConnectedState && !failed_;
    }
    bool Fail(const QString& cause) {
        openFailure_ = cause;
        socket_.reset();
        hold_.Release();
        return false;
    }
    TransportResult Broken() {
        failed_ = true;
        if (socket_)
            socket_->abort();
        hold_.Release();
        return TransportResult::Failed;
    }
    // The listener's answer line, within DialinAnswerTimeoutMs.
    std::optional<DialinAnswer> ReadAnswer();

    DeviceHold hold_;
    std::unique_ptr<QLocalSocket> socket_;
    QString openFailure_;
    QString peer_;
    std::optional<int> roundTripMs_;
    bool busy_ = false;
    bool failed_ = false;
    int lateQuietMs_ = 0;
};

std::optional<DialinAnswer> DialinTransport::ReadAnswer() {
    QElapsedTimer clock;
    clock.start();
    while (!socket_->canReadLine()) {
        const int left = DialinAnswerTimeoutMs - static_cast<int>(clock.elapsed());
        if (left <= 0 || socket_->bytesAvailable() > MaxDialinLine ||
            !socket_->waitForReadyRead(left))
            return std::nullopt;
    }
    return ParseDialinAnswer(socket_->readLine(MaxDialinLine + 1));
}

bool DialinTransport::Open(const QString& device, std::int32_t) {
    openFailure_.clear();
    peer_.clear();
    roundTripMs_.reset();
    busy_ = false;
    failed_ = false;
    const NetworkPortParse parse = ParseNetworkPort(device);
    if (!parse.ok)
        return Fail(parse.cause);
    if (parse.port.protocol != NetworkProtocol::Dialin)
        return Fail(QStringLiteral("«%1» не модем, который звонит сам").arg(ShownName(device)));
    if (!hold_.Take(DeviceKeys(device))) {
        busy_ = hold_.HeldByAnother();
        return Fail(hold_.Refusal());
    }
    socket_ = std::make_unique<QLocalSocket>();
    socket_->connectToServer(DialinChannelName());
    if (!socket_->waitForConnected(DialinAnswerTimeoutMs))
        return Fail(QStringLiteral("регулятор не на связи (приём звонков модемов не запущен: "
                                   "kv9000 --listen)"));
    socket_->write(DialinRequest(parse.port.host));
    socket_->flush();
    const std::optional<DialinAnswer> answer = ReadAnswer();
    if (!answer)
        return Fail(QStringLiteral("регулятор не на связи (приём звонков модемов не ответил)"));
    switch (answer->kind) {
    case DialinAnswerKind::Ok:
        peer_ = answer->peer;
        roundTripMs_ = answer->roundTripMs;
        // The call's bytes that came with the answer are the controller's and stay for Read.
        return true;
    case DialinAnswerKind::Away:
        return Fail(QStringLiteral("регулятор не на связи (последний звонок: %1)")
                        .arg(answer->lastCall.isValid() ? answer->lastCall.toLocalTime().toString(
                                                              QStringLiteral("dd.MM.yyyy HH:mm:ss"))
                                                        : QStringLiteral("не звонил")));
    case DialinAnswerKind::Busy:
        busy_ = true;
        return Fail(QStringLiteral("порт занят: этот модем уже читает другая программа"));
    case DialinAnswerKind::Unknown:
        break;
    }
    return Fail(QStringLiteral("регулятор не на связи (модема %1 нет в списке регуляторов "
                               "приёма звонков)")
                    .arg(ShownName(parse.port.host)));
}

TransportResult DialinTransport::DiscardInput() {
    if (!IsOpen())
        return Broken();
    // After a missed answer the late one is waited for until the call has been quiet that long.
    QElapsedTimer clock;
    clock.start();
    const int quietMs = std::exchange(lateQuietMs_, 0);
    do {
        socket_->readAll();
        if (clock.elapsed() >= std::max(MaxLateAnswerDrainMs, 2 * quietMs))
            break;
    } while (quietMs > 0 && socket_->waitForReadyRead(quietMs));
    socket_->readAll();
    return socket_->state() == QLocalSocket::ConnectedState ? TransportResult::Ok : Broken();
}

TransportResult DialinTransport::Write(std::span<const std::uint8_t> bytes, int timeoutMs) {
    if (!IsOpen())
        return Broken();
    if (lateQuietMs_ > 0 && DiscardInput() != TransportResult::Ok)
        return TransportResult::Failed;
    socket_->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    QElapsedTimer clock;
    clock.start();
    while (socket_->bytesToWrite() > 0) {
        const int left = timeoutMs - static_cast<int>(clock.elapsed());
        if (socket_->state() != QLocalSocket::ConnectedState)
            return Broken();
        if (left <= 0)
            return TransportResult::TimedOut;
        socket_->waitForBytesWritten(left);
    }
    return TransportResult::Ok;
}

TransportResult DialinTransport::Read(std::vector<std::uint8_t>& into, int timeoutMs) {
    if (!IsOpen())
        return Broken();
    if (socket_->bytesAvailable() == 0 && !socket_->waitForReadyRead(std::max(timeoutMs, 0))) {
        if (socket_->state() != QLocalSocket::ConnectedState)
            return Broken();
        return TransportResult::TimedOut;
    }
    const QByteArray bytes = socket_->readAll();
    into.insert(into.end(), bytes.begin(), bytes.end());
    if (bytes.isEmpty())
        return socket_->state() == QLocalSocket::ConnectedState ? TransportResult::TimedOut
                                                                : Broken();
    return TransportResult::Ok;
}

} // namespace

std::unique_ptr<SerialTransport> MakeDialinTransport(const QString& holdFolder) {
    return std::make_unique<DialinTransport>(holdFolder);
}
