#include "DialinListener.h"

#include "CallSocket.h"
#include "DialinChannel.h"
#include "NetworkPort.h"
#include "OneLinePath.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <tuple>

namespace {

// The tick that looks for calls too slow to register or gone silent, and flushes held bytes.
constexpr int TickMs = 250;
// A registration that another one of the fleet extends is taken after this much quiet.
constexpr int RegistrationQuietMs = 300;
// Bytes held back for the rest of a frame go out as they are after this much quiet.
constexpr int FilterQuietMs = 200;
// The log names one source address at most once in this time.
constexpr qint64 SayEveryMs = 60'000;
// Descriptors kept beside the calls: the channel and its borrowers, collections on a call, the
// fleet list, the system's own.
constexpr int OtherDescriptors = 64;

QString AddressText(const QHostAddress& address) {
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

struct DialinListener::Call {
    QTcpSocket* socket = nullptr;
    QString address; // the source address
    QString from;    // address:port
    QString id;      // empty until registered
    QByteArray registration;
    QElapsedTimer since; // since the call came
    QElapsedTimer heard; // since its last byte
    QLocalSocket* borrower = nullptr;
    std::unique_ptr<CallFilter> filter;
};

DialinListener::DialinListener(DialinSettings settings, Log log, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), log_(std::move(log)) {
    clock_.start();
    tick_.setInterval(TickMs);
    connect(&tick_, &QTimer::timeout, this, &DialinListener::Tick);
    silence_.setSingleShot(true);
    silence_.setTimerType(Qt::PreciseTimer);
    connect(&silence_, &QTimer::timeout, this, &DialinListener::Tick);
}

DialinListener::~DialinListener() {
    for (auto& [socket, call] : calls_) {
        socket->disconnect(this);
        if (call->borrower)
            call->borrower->disconnect(this);
    }
}

QString DialinListener::Start(const QHostAddress& address, quint16 port) {
    const QString name = DialinChannelName();
    {
        QLocalSocket probe;
        probe.connectToServer(name);
        if (probe.waitForConnected(1000))
            return QStringLiteral("приём звонков модемов этого пользователя уже запущен (канал %1)")
                .arg(QDir::toNativeSeparators(name));
    }
    QLocalServer::removeServer(name); // a channel left by a listener that was killed
    channel_ = std::make_unique<QLocalServer>();
    channel_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!channel_->listen(name))
        return QStringLiteral("канал для других процессов %1 не открывается: %2")
            .arg(QDir::toNativeSeparators(name), channel_->errorString());
    connect(channel_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* borrower = channel_->nextPendingConnection())
            Borrow(borrower);
    });
    // Past the descriptors it may hold the system refuses to take a call at all, and the calls
    // left waiting would be neither held nor closed: Max calls stays within them.
    const int allowed =
        DescriptorsAllowed(settings_.maxCalls + OtherDescriptors) - OtherDescriptors;
    if (allowed < settings_.maxCalls) {
        settings_.maxCalls = std::max(allowed, 0);
        Say({},
            QStringLiteral("система позволяет этому процессу держать не больше %1 звонков "
                           "(Max calls=%1; больше позволит ulimit -n)")
                .arg(settings_.maxCalls),
            true);
    }
    server_ = std::make_unique<QTcpServer>();
    // Many modems call at once after a power cut or the listener's restart.
    server_->setListenBacklogSize(1024);
    server_->setMaxPendingConnections(1024);
    if (!server_->listen(address, port))
        return QStringLiteral("порт %1 на %2 не открывается для звонков: %3")
            .arg(port)
            .arg(address.toString(), server_->errorString());
    connect(server_.get(), &QTcpServer::newConnection, this, &DialinListener::Accept);
    tick_.start();
    return {};
}

quint16 DialinListener::Port() const {
    return server_ ? server_->serverPort() : 0;
}

void DialinListener::SetFleet(const QStringList& ids) {
    registrations_.clear();
    ids_.clear();
    for (const QString& id : ids)
        if (const auto bytes = settings_.RegistrationOf(id)) {
            registrations_[*bytes] = id;
            ids_[id] = *bytes;
        }
    std::vector<Call*> gone;
    for (Call* call : std::as_const(held_))
        if (!ids_.contains(call->id))
            gone.push_back(call);
    for (Call* call : gone)
        Close(*call, QStringLiteral("модем %1 больше не в списке регуляторов").arg(call->id));
}

DialinCounts DialinListener::Counts() const {
    DialinCounts counts = counts_;
    counts.held = static_cast<int>(held_.size());
    counts.unregistered = static_cast<int>(calls_.size()) - counts.held;
    return counts;
}

QDateTime DialinListener::LastCall(const QString& id) const {
    return lastCall_.value(id);
}

void DialinListener::Say(const QString& address, const QString& text, bool always) {
    if (!always) {
        const qint64 now = clock_.elapsed();
        const auto it = lastSaid_.find(address);
        if (it != lastSaid_.end() && now - *it < SayEveryMs)
            return;
        lastSaid_[address] = now;
    }
    if (log_)
        log_(text);
}

void DialinListener::Accept() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        ++counts_.accepted;
        const QString address = AddressText(socket->peerAddress());
        QString why;
        if (!settings_.Allows(socket->peerAddress()))
            why = QStringLiteral("адрес не из разрешённых сетей (Allow=)");
        else if (static_cast<int>(calls_.size()) >= settings_.maxCalls)
            why = QStringLiteral("принято звонков столько, сколько разрешено (Max calls=%1)")
                      .arg(settings_.maxCalls);
        else if (unregisteredFrom_.value(address) >= MaxUnregisteredPerAddress && !Settle(address))
            why = QStringLiteral("с этого адреса уже %1 звонков без регистрации")
                      .arg(MaxUnregisteredPerAddress);
        if (!why.isEmpty()) {
            ++counts_.refused;
            Say(address, QStringLiteral("звонок с %1 закрыт: %2").arg(address, why));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto call = std::make_unique<Call>();
        call->socket = socket;
        call->address = address;
        call->from = QStringLiteral("%1:%2").arg(address).arg(socket->peerPort());
        call->since.start();
        call->heard.start();
        ++unregisteredFrom_[address];
        socket->setReadBufferSize(64 * 1024);
        KeepCallAlive(socket->socketDescriptor());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (const auto it = calls_.find(socket); it != calls_.end())
                Heard(*it->second);
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (const auto it = calls_.find(socket); it != calls_.end())
                Close(*it->second, {});
        });
        calls_[socket] = std::move(call);
    }
}

bool DialinListener::Settle(const QString& address) {
    // Calls accepted in one batch have not been read yet: those whose registration is already in
    // are registered now (the wait reads it and says so, through Heard), and only calls still
    // without one count.
    std::vector<QTcpSocket*> waiting;
    for (auto& [socket, call] : calls_)
        if (call->id.isEmpty() && call->address == address)
            waiting.push_back(socket);
    for (QTcpSocket* socket : waiting)
        if (const auto it = calls_.find(socket); it != calls_.end() && it->second->id.isEmpty())
            socket->waitForReadyRead(0);
    return unregisteredFrom_.value(address) < MaxUnregisteredPerAddress;
}

QString DialinListener::Match(const QByteArray& bytes, qsizetype& length, bool& more) const {
    more = false;
    QString best;
    length = 0;
    // Registrations that begin with these bytes sort right from them on.
    const auto from = registrations_.lower_bound(bytes);
    more = from != registrations_.end() && from->first.startsWith(bytes) &&
           from->first.size() > bytes.size();
    if (from != registrations_.end() && from->first == bytes) {
        const auto next = std::next(from);
        more = next != registrations_.end() && next->first.startsWith(bytes);
    }
    // The longest one the bytes start with (the registration and what followed in one packet).
    for (qsizetype n = std::min<qsizetype>(bytes.size(), MaxRegistrationBytes); n > 0; --n)
        if (const auto it = registrations_.find(bytes.left(n)); it != registrations_.end()) {
            length = n;
            best = it->second;
            break;
        }
    return best;
}

void DialinListener::Heard(Call& call) {
    call.heard.restart();
    if (call.id.isEmpty()) {
        Registration(call);
        return;
    }
    const QByteArray bytes = call.socket->readAll();
    Forward(call, bytes);
}

void DialinListener::Registration(Call& call) {
    call.registration += call.socket->read(MaxRegistrationBytes + 1 - call.registration.size());
    qsizetype length = 0;
    bool more = false;
    const QString id = Match(call.registration, length, more);
    if (more && call.registration.size() <= MaxRegistrationBytes)
        return; // the rest may still come; a registration another extends is taken once quiet
    if (!id.isEmpty()) {
        Hold(call, id, length);
        return;
    }
    ++counts_.unknown;
    Close(call, call.registration.size() > MaxRegistrationBytes
                    ? QStringLiteral("регистрация длиннее %1 байт").arg(MaxRegistrationBytes)
                    : QStringLiteral("регистрация (%1) не из списка регуляторов")
                          .arg(ShownName(QString::fromLatin1(call.registration.toHex(' ')))));
}

void DialinListener::Hold(Call& call, const QString& id, qsizetype length) {
    const QByteArray rest = call.registration.mid(length);
    call.registration = call.registration.left(length);
    call.id = id;
    if (--unregisteredFrom_[call.address] <= 0)
        unregisteredFrom_.remove(call.address);
    if (Call* older = held_.value(id)) {
        ++counts_.replaced;
        Say(call.address,
            QStringLiteral("модем %1 позвонил снова с %2: прежний звонок с %3 закрыт")
                .arg(id, call.from, older->from),
            true);
        Close(*older, {});
    }
    held_[id] = &call;
    lastCall_[id] = QDateTime::currentDateTimeUtc();
    Say(call.address, QStringLiteral("модем %1 на связи (звонок с %2)").arg(id, call.from), true);
    std::vector<QByteArray> noise{settings_.heartbeat};
    if (settings_.registrationEveryPacket)
        noise.push_back(call.registration);
    call.filter = std::make_unique<CallFilter>(std::move(noise));
    emit Registered(id, call.from);
    Forward(call, rest + call.socket->readAll());
}

void DialinListener::Forward(Call& call, QByteArrayView bytes) {
    if (!call.borrower) {
        call.filter->Reset(); // nobody asked: nothing of it is anyone's answer
        return;
    }
    const QByteArray out = call.filter->Feed(bytes);
    if (!out.isEmpty())
        call.borrower->write(out);
}

void DialinListener::Close(Call& call, const QString& why) {
    QTcpSocket* const socket = call.socket;
    // A modem of the fleet is named by its own line: many of them share a source address behind
    // the operator's address translation, and each one that goes away must be said.
    if (!why.isEmpty())
        Say(call.address, QStringLiteral("звонок с %1 закрыт: %2").arg(call.from, why),
            !call.id.isEmpty());
    if (call.id.isEmpty()) {
        if (--unregisteredFrom_[call.address] <= 0)
            unregisteredFrom_.remove(call.address);
    } else if (held_.value(call.id) == &call) {
        held_.remove(call.id);
    }
    if (call.borrower) {
        call.borrower->disconnect(this);
        call.borrower->abort();
        call.borrower->deleteLater();
    }
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    calls_.erase(socket); // call is gone from here on
}

void DialinListener::Borrow(QLocalSocket* borrower) {
    connect(borrower, &QLocalSocket::readyRead, this, [this, borrower] {
        if (!borrower->property("call").isValid()) {
            if (!borrower->canReadLine()) {
                if (borrower->bytesAvailable() > MaxDialinLine)
                    borrower->abort();
                return;
            }
            Answer(borrower, borrower->readLine(MaxDialinLine + 1).chopped(1));
            return;
        }
        const QString id = borrower->property("call").toString();
        Call* call = held_.value(id);
        if (call && call->borrower == borrower)
            call->socket->write(borrower->readAll());
        else
            borrower->abort();
    });
    connect(borrower, &QLocalSocket::disconnected, this, [this, borrower] {
        const QVariant id = borrower->property("call");
        if (id.isValid())
            if (Call* call = held_.value(id.toString()); call && call->borrower == borrower)
                call->borrower = nullptr;
        borrower->deleteLater();
    });
}

void DialinListener::Answer(QLocalSocket* borrower, const QByteArray& line) {
    DialinAnswer answer;
    const std::optional<QString> id = ParseDialinRequest(line);
    Call* call = id ? held_.value(*id) : nullptr;
    if (!id || !ids_.contains(*id)) {
        answer.kind = DialinAnswerKind::Unknown;
    } else if (!call) {
        answer.kind = DialinAnswerKind::Away;
        answer.lastCall = lastCall_.value(*id);
    } else if (call->borrower) {
        answer.kind = DialinAnswerKind::Busy;
    } else {
        answer.kind = DialinAnswerKind::Ok;
        answer.peer = call->from;
        answer.roundTripMs = CallRoundTripMs(call->socket->socketDescriptor());
        call->borrower = borrower;
        call->filter->Reset();
        call->socket->readAll(); // what came before the borrower asked is nobody's answer
        borrower->setProperty("call", *id);
    }
    borrower->write(FormatDialinAnswer(answer));
    if (answer.kind != DialinAnswerKind::Ok)
        borrower->disconnectFromServer();
    else if (borrower->bytesAvailable() > 0) // a request sent right behind the line
        call->socket->write(borrower->readAll());
}

void DialinListener::Tick() {
    const qint64 silentMs = 3000LL * settings_.heartbeatSeconds;
    std::vector<std::pair<Call*, QString>> closing;
    std::vector<std::tuple<Call*, QString, qsizetype>> holding;
    qint64 soonest = TickMs; // the next call whose three intervals are up before the next tick
    for (auto& [socket, call] : calls_) {
        if (call->id.isEmpty()) {
            qsizetype length = 0;
            bool more = false;
            const QString id = Match(call->registration, length, more);
            if (!id.isEmpty() && call->heard.elapsed() >= RegistrationQuietMs)
                holding.emplace_back(call.get(), id, length); // no longer one of the fleet came
            else if (call->since.elapsed() >= RegistrationTimeoutMs)
                closing.emplace_back(
                    call.get(),
                    QStringLiteral("регистрации нет за %1 с").arg(RegistrationTimeoutMs / 1000));
            continue;
        }
        const qint64 left = silentMs - call->heard.elapsed();
        if (!settings_.heartbeat.isEmpty() && left <= 0) {
            ++counts_.silent;
            closing.emplace_back(call.get(), QStringLiteral("модем %1 молчит дольше трёх "
                                                            "интервалов сердцебиения")
                                                 .arg(call->id));
            continue;
        }
        if (!settings_.heartbeat.isEmpty())
            soonest = std::min(soonest, left);
        if (call->borrower && call->filter->Holding() && call->heard.elapsed() >= FilterQuietMs)
            call->borrower->write(call->filter->Flush());
    }
    // Closed first: a re-dial held below closes its older call, which may be among them.
    for (auto& [call, why] : closing)
        Close(*call, why);
    for (auto& [call, id, length] : holding)
        Hold(*call, id, length);
    // Closed when its three intervals are up, not up to a tick later.
    if (soonest < TickMs)
        silence_.start(static_cast<int>(soonest));
}
