#include "NetworkTransport.h"

#include "DeviceHold.h"
#include "HostLookup.h"
#include "NetworkPort.h"
#include "NetworkStream.h"
#include "OneLinePath.h"
#include "OpenDevices.h"
#include "SocketIo.h"
#include "TelnetComPort.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

// How long the line must stay quiet after a time-out before the next request (at least; the
// link may ask for longer over a slow network), and the most spent waiting for that.
constexpr int LateAnswerQuietMs = 50;
constexpr int MaxLateAnswerDrainMs = 1000;

// Lets the thread's events run for a moment (a window stays responsive), or just sleeps.
void Breathe(bool responsive, int ms) {
    if (responsive) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
}

class NetworkTransport final : public SerialTransport, public NetworkStream {
public:
    explicit NetworkTransport(const QString& holdFolder) : hold_(holdFolder) {}
    ~NetworkTransport() override;
    bool Open(const QString& device, std::int32_t speed) override;
    bool SetMode8N1() override { return socket_ != nullptr && !failed_; }
    TransportResult DiscardInput() override;
    TransportResult Write(std::span<const std::uint8_t> bytes, int timeoutMs) override;
    TransportResult Read(std::vector<std::uint8_t>& into, int timeoutMs) override;
    void SetResponsive(bool responsive) override { responsive_ = responsive; }
    void AnswerMissed(int mayStillComeMs) override;
    std::optional<int> RoundTripMs() const override { return roundTripMs_; }
    QString OpenFailure() const override { return openFailure_; }
    QString OpenNotice() const override { return openNotice_; }
    bool OpenBusy() const override { return busy_; }

private:
    bool Fail(const QString& cause);
    std::optional<QList<QHostAddress>> Resolve(const QString& host, QElapsedTimer& clock);
    bool Connect(const QList<QHostAddress>& addresses, std::uint16_t port, QElapsedTimer& clock);
    // False when the box never answered in telnet: it does not speak RFC 2217.
    bool Negotiate(std::int32_t speed, const NetworkPort& port);
    // Takes what the toolkit's socket has buffered apart: the line's data into `into` (when
    // given), telnet's answers sent back at once. False when the connection failed.
    bool Take(std::vector<std::uint8_t>* into);
    // The same for bytes received by the system's calls.
    bool Absorb(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>* into);
    // Receives what the system holds for the connection: Ok, TimedOut when nothing waits,
    // Failed when it ended.
    TransportResult ReceiveWaiting(std::vector<std::uint8_t>* into);
    TransportResult Broken();

    // Held from before connecting until the connection is closed or lost.
    DeviceHold hold_;
    std::unique_ptr<QTcpSocket> socket_;
    std::optional<TelnetComPort> telnet_;
    std::vector<std::uint8_t> received_ = std::vector<std::uint8_t>(4096);
    QString device_;
    bool failed_ = false;
    bool responsive_ = false;
    // A read timed out: the answer may still be on its way and must not pass for the next one.
    bool answerMayBeLate_ = false;
    // How long the line must stay quiet before the next request when an answer may be late.
    int lateAnswerQuietMs_ = LateAnswerQuietMs;
    std::optional<int> roundTripMs_;
    QString openFailure_;
    QString openNotice_;
    bool busy_ = false;
};

NetworkTransport::~NetworkTransport() {
    if (socket_)
        socket_->abort();
    if (!device_.isEmpty())
        NoteDeviceClosed(device_);
}

bool NetworkTransport::Fail(const QString& cause) {
    openFailure_ = cause;
    if (socket_)
        socket_->abort();
    socket_.reset();
    hold_.Release();
    return false;
}

std::optional<QList<QHostAddress>> NetworkTransport::Resolve(const QString& host,
                                                             QElapsedTimer& clock) {
    if (QHostAddress literal; literal.setAddress(host))
        return QList<QHostAddress>{literal};
    const auto lookup = StartHostLookup(host);
    for (;;) {
        {
            std::unique_lock lock(lookup->mutex);
            const bool finished =
                lookup->done.wait_for(lock, std::chrono::milliseconds(responsive_ ? 0 : 20),
                                      [&] { return lookup->finished; });
            if (finished) {
                if (lookup->addresses.isEmpty()) {
                    Fail(QStringLiteral("имя «%1» не найдено").arg(ShownName(host)));
                    return std::nullopt;
                }
                return lookup->addresses;
            }
        }
        if (clock.elapsed() >= ConnectTimeoutMs) {
            Fail(QStringLiteral("имя «%1» не найдено за %2 мс")
                     .arg(ShownName(host))
                     .arg(ConnectTimeoutMs));
            return std::nullopt;
        }
        if (responsive_)
            Breathe(true, 20);
    }
}

bool NetworkTransport::Connect(const QList<QHostAddress>& addresses, std::uint16_t port,
                               QElapsedTimer& clock) {
    QString lastError;
    for (const QHostAddress& address : addresses) {
        const qint64 left = ConnectTimeoutMs - clock.elapsed();
        if (left <= 0)
            break;
        socket_ = std::make_unique<QTcpSocket>();
        // Requests are a dozen bytes: each goes out at once, never held to gather more.
        socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QElapsedTimer connectClock;
        connectClock.start();
        socket_->connectToHost(address, port);
        if (responsive_) {
            qint64 connectedAfter = -1;
            const auto noted = QObject::connect(socket_.get(), &QTcpSocket::connected, [&] {
                connectedAfter = connectClock.nsecsElapsed();
            });
            while (socket_->state() != QAbstractSocket::ConnectedState &&
                   socket_->state() != QAbstractSocket::UnconnectedState &&
                   clock.elapsed() < ConnectTimeoutMs)
                Breathe(true, 10);
            QObject::disconnect(noted);
            if (connectedAfter >= 0)
                roundTripMs_ = static_cast<int>((connectedAfter + 999'999) / 1'000'000);
        } else if (socket_->waitForConnected(static_cast<int>(left))) {
            roundTripMs_ = static_cast<int>((connectClock.nsecsElapsed() + 999'999) / 1'000'000);
        }
        if (socket_->state() == QAbstractSocket::ConnectedState) {
            socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            return true;
        }
        lastError = socket_->error() == QAbstractSocket::ConnectionRefusedError
                        ? QStringLiteral("соединение отклонено")
                    : socket_->error() == QAbstractSocket::SocketTimeoutError ||
                            socket_->state() != QAbstractSocket::UnconnectedState
                        ? QStringLiteral("устройство не отвечает за %1 мс").arg(ConnectTimeoutMs)
                        : socket_->errorString();
        socket_->abort();
    }
    if (lastError.isEmpty())
        lastError = QStringLiteral("устройство не отвечает за %1 мс").arg(ConnectTimeoutMs);
    return Fail(lastError);
}

bool NetworkTransport::Negotiate(std::int32_t speed, const NetworkPort& port) {
    telnet_.emplace(speed);
    const std::vector<std::uint8_t> greeting = telnet_->Greeting();
    QElapsedTimer clock;
    clock.start();
    socket_->write(reinterpret_cast<const char*>(greeting.data()),
                   static_cast<qint64>(greeting.size()));
    socket_->waitForBytesWritten(ConnectTimeoutMs);
    std::optional<qint64> firstAnswer;
    while (!telnet_->Settled() && clock.elapsed() < ConnectTimeoutMs) {
        const int left = static_cast<int>(ConnectTimeoutMs - clock.elapsed());
        if (socket_->bytesAvailable() == 0 &&
            !socket_->waitForReadyRead(responsive_ ? std::min(left, 20) : left)) {
            if (socket_->state() != QAbstractSocket::ConnectedState)
                return true;
            if (responsive_)
                QCoreApplication::processEvents();
            continue;
        }
        if (!Take(nullptr))
            return true;
        if (!firstAnswer && telnet_->AnySettingAnswered())
            firstAnswer = clock.nsecsElapsed();
    }
    // The settings' answer came back from the box itself: the round trip through whatever
    // lies between, where the connection may have been answered nearer.
    if (firstAnswer)
        roundTripMs_ = std::max(roundTripMs_.value_or(0),
                                static_cast<int>((*firstAnswer + 999'999) / 1'000'000));
    // A box that never said a word of telnet speaks raw TCP: its data would be read as telnet
    // (a 0xFF byte of the archive taken for a command) and every request's 0xFF sent doubled.
    // Nothing read through it could be trusted, so it is not used.
    if (!telnet_->SpokeTelnet()) {
        NetworkPort raw = port;
        raw.protocol = NetworkProtocol::RawTcp;
        Fail(QStringLiteral("устройство не ответило по RFC 2217 за %1 мс: оно, видимо, передаёт "
                            "байты как есть; укажите для него %2")
                 .arg(ConnectTimeoutMs)
                 .arg(raw.Text()));
        return false;
    }
    if (!telnet_->Settled())
        openNotice_ = QStringLiteral("%1: устройство не ответило на настройку линии (RFC 2217) "
                                     "за %2 мс; линия используется как есть")
                          .arg(device_)
                          .arg(ConnectTimeoutMs);
    else if (const QString deviations = telnet_->Deviations(); !deviations.isEmpty())
        openNotice_ = QStringLiteral("%1: устройство не приняло настройку линии (%2); линия "
                                     "используется как есть")
                          .arg(device_, deviations);
    return true;
}

bool NetworkTransport::Open(const QString& device, std::int32_t speed) {
    openFailure_.clear();
    openNotice_.clear();
    roundTripMs_.reset();
    telnet_.reset();
    busy_ = false;
    const NetworkPortParse parse = ParseNetworkPort(device);
    if (!parse.ok)
        return Fail(parse.cause);
    QElapsedTimer clock;
    clock.start();
    const auto addresses = Resolve(parse.port.host, clock);
    if (!addresses)
        return false;
    // Before connecting: a box that lets one connection in may drop the reader it has for us.
    if (!hold_.Take(HeldNames(*addresses, parse.port.port))) {
        busy_ = hold_.HeldByAnother();
        return Fail(hold_.Refusal());
    }
    if (!Connect(*addresses, parse.port.port, clock))
        return false;
    if (device_.isEmpty()) {
        device_ = device;
        NoteDeviceOpened(device);
    }
    failed_ = false;
    if (parse.port.protocol == NetworkProtocol::Rfc2217 && !Negotiate(speed, parse.port))
        return false;
    // What the box still held from the line (answers to an earlier connection's requests)
    // comes right after connecting: it is read and dropped before the first request.
    answerMayBeLate_ = true;
    if (socket_->state() != QAbstractSocket::ConnectedState)
        return Fail(QStringLiteral("соединение закрыто устройством"));
    return true;
}

TransportResult NetworkTransport::Broken() {
    failed_ = true;
    // The connection is of no further use: closed, and the device free for the next reader (a
    // link that connects again takes it anew).
    socket_->abort();
    hold_.Release();
    return TransportResult::Failed;
}

bool NetworkTransport::Take(std::vector<std::uint8_t>* into) {
    const QByteArray raw = socket_->readAll();
    return Absorb(std::span(reinterpret_cast<const std::uint8_t*>(raw.constData()),
                            static_cast<std::size_t>(raw.size())),
                  into);
}

bool NetworkTransport::Absorb(std::span<const std::uint8_t> bytes,
                              std::vector<std::uint8_t>* into) {
    if (!telnet_) {
        if (into)
            into->insert(into->end(), bytes.begin(), bytes.end());
        return true;
    }
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> reply;
    telnet_->Feed(bytes, data, reply);
    if (into)
        into->insert(into->end(), data.begin(), data.end());
    if (!reply.empty()) {
        socket_->write(reinterpret_cast<const char*>(reply.data()),
                       static_cast<qint64>(reply.size()));
        socket_->flush();
    }
    return socket_->state() == QAbstractSocket::ConnectedState;
}

TransportResult NetworkTransport::ReceiveWaiting(std::vector<std::uint8_t>* into) {
    // Whatever the toolkit took in meanwhile (while its events ran) comes first.
    if (socket_->bytesAvailable() > 0 && !Take(into))
        return Broken();
    const qintptr socket = socket_->socketDescriptor();
    if (socket == -1)
        return Broken();
    const std::ptrdiff_t n = SocketReceive(socket, received_);
    if (n < 0)
        return Broken();
    if (n == 0)
        return TransportResult::TimedOut;
    return Absorb(std::span(received_).first(static_cast<std::size_t>(n)), into)
               ? TransportResult::Ok
               : Broken();
}

void NetworkTransport::AnswerMissed(int mayStillComeMs) {
    // An answer that comes after the next request has gone would pass for the next answer, and
    // shift every later block: the next request waits until the late answer has had its time.
    answerMayBeLate_ = true;
    lateAnswerQuietMs_ = std::max(LateAnswerQuietMs, mayStillComeMs);
}

TransportResult NetworkTransport::DiscardInput() {
    if (failed_ || !socket_)
        return TransportResult::Failed;
    // After a time-out the late answer is waited for (until the line has been quiet as long as
    // it may still take), so that it cannot pass for the answer to the request that follows.
    const int quietMs = answerMayBeLate_ ? lateAnswerQuietMs_ : 0;
    answerMayBeLate_ = false;
    lateAnswerQuietMs_ = LateAnswerQuietMs;
    QElapsedTimer clock;
    clock.start();
    // A box that never stops sending is drained for MaxLateAnswerDrainMs (or twice the quiet
    // waited for) at most, never for ever.
    for (;;) {
        const TransportResult got = ReceiveWaiting(nullptr);
        if (got == TransportResult::Failed)
            return got;
        if (clock.elapsed() >= std::max(MaxLateAnswerDrainMs, 2 * quietMs))
            return TransportResult::Ok;
        if (got == TransportResult::Ok)
            continue;
        if (quietMs == 0 || !SocketWait(socket_->socketDescriptor(), false, quietMs))
            return TransportResult::Ok;
    }
}

TransportResult NetworkTransport::Write(std::span<const std::uint8_t> bytes, int timeoutMs) {
    if (failed_ || !socket_)
        return TransportResult::Failed;
    std::vector<std::uint8_t> escaped;
    if (telnet_)
        escaped = TelnetComPort::Escape(bytes);
    std::span<const std::uint8_t> left = telnet_ ? std::span<const std::uint8_t>(escaped) : bytes;
    QElapsedTimer clock;
    clock.start();
    // Telnet's answers the toolkit still holds go first, in their order.
    while (socket_->bytesToWrite() > 0)
        if (!socket_->waitForBytesWritten(timeoutMs))
            return socket_->state() == QAbstractSocket::ConnectedState ? TransportResult::TimedOut
                                                                       : Broken();
    const qintptr socket = socket_->socketDescriptor();
    if (socket == -1)
        return Broken();
    // A request fits the socket's send buffer: one send, without a wait.
    while (!left.empty()) {
        const std::ptrdiff_t n = SocketSend(socket, left);
        if (n < 0)
            return Broken();
        left = left.subspan(static_cast<std::size_t>(n));
        if (!left.empty() &&
            !SocketWait(socket, true, static_cast<int>(timeoutMs - clock.elapsed())))
            return TransportResult::TimedOut;
    }
    return TransportResult::Ok;
}

TransportResult NetworkTransport::Read(std::vector<std::uint8_t>& into, int timeoutMs) {
    if (failed_ || !socket_)
        return TransportResult::Failed;
    QElapsedTimer clock;
    clock.start();
    const auto before = into.size();
    for (;;) {
        // Waited for first: an answer is seldom there the moment its request has gone.
        if (socket_->bytesAvailable() == 0) {
            const qintptr socket = socket_->socketDescriptor();
            if (socket == -1)
                return Broken();
            if (!SocketWait(socket, false, static_cast<int>(timeoutMs - clock.elapsed())))
                break;
        }
        const TransportResult got = ReceiveWaiting(&into);
        if (into.size() > before)
            return TransportResult::Ok; // a connection that ended after its last bytes: next time
        if (got == TransportResult::Failed)
            return got;
        // Only telnet's own talk came: the data may still come in time.
        if (clock.elapsed() >= timeoutMs)
            break;
    }
    answerMayBeLate_ = true;
    return TransportResult::TimedOut;
}

} // namespace

std::unique_ptr<SerialTransport> MakeNetworkTransport(const QString& holdFolder) {
    return std::make_unique<NetworkTransport>(holdFolder);
}
