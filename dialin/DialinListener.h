#pragma once

// The listener for modems that call in (kv9000 --listen): it takes their calls on a TCP port,
// reads each one's registration, holds the calls of the modems its fleet names, and lends a held
// call to a process of the same user that asks over the local channel (DialinChannel.h), passing
// the controller's answers with the modem's heartbeats taken off (CallFilter.h). It never sends a
// modem anything of its own, and never acts on what a modem sends: a call's bytes go only to its
// borrower, as answers to the borrower's requests.
//
// Everything that arrives from the network is hostile until registered: a call must be allowed by
// the settings' networks, name a modem of the fleet within RegistrationTimeoutMs and
// MaxRegistrationBytes, and no address may hold more than MaxUnregisteredPerAddress calls
// unregistered; beyond the settings' Max calls new calls are closed at once. A second call with
// a registration already held replaces the older one. A call silent for three heartbeat
// intervals is closed (without heartbeats, TCP keep-alive notices a vanished modem).
//
// Failures are results: Start gives the cause in Russian; what happens to calls goes to the log,
// one line per event: every call of a registered modem, its coming and its closing; a source
// address of calls not registered named at most once a minute.

#include "CallFilter.h"
#include "DialinSettings.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QTcpServer;
class QTcpSocket;

struct DialinCounts {
    int held = 0; // registered calls now
    int unregistered = 0;
    qint64 accepted = 0; // calls taken since the start
    qint64 unknown = 0;  // closed for a registration the fleet does not name
    qint64 refused = 0;  // closed for a limit or a network not allowed
    qint64 replaced = 0; // older calls closed by a re-dial
    qint64 silent = 0;   // closed for silence
};

class DialinListener : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&)>;
    DialinListener(DialinSettings settings, Log log, QObject* parent = nullptr);
    ~DialinListener() override;

    // Listens on address:port and opens the local channel; the cause when either fails (a
    // listener already running for this user included).
    QString Start(const QHostAddress& address, quint16 port);
    quint16 Port() const;

    // The modems of the fleet: ID as the fleet list writes it after "dialin:". Held calls of
    // modems no longer named are closed.
    void SetFleet(const QStringList& ids);

    DialinCounts Counts() const;
    // When the modem last called (invalid: never since the start).
    QDateTime LastCall(const QString& id) const;

signals:
    // A modem of the fleet called and registered (also after a re-dial).
    void Registered(const QString& id, const QString& from);

private:
    struct Call;
    void Accept();
    // Registers the waiting calls from address whose registration has come; whether the address
    // may then have another call.
    bool Settle(const QString& address);
    void Heard(Call& call);
    void Registration(Call& call);
    void Hold(Call& call, const QString& id, qsizetype length);
    void Forward(Call& call, QByteArrayView bytes);
    void Close(Call& call, const QString& why);
    void Borrow(QLocalSocket* borrower);
    void Answer(QLocalSocket* borrower, const QByteArray& line);
    void Tick();
    void Say(const QString& address, const QString& text, bool always = false);
    // The longest known registration the bytes start with; empty when none. more: some
    // registration starts with all of them (the rest may still come).
    QString Match(const QByteArray& bytes, qsizetype& length, bool& more) const;

    DialinSettings settings_;
    Log log_;
    std::unique_ptr<QTcpServer> server_;
    std::unique_ptr<QLocalServer> channel_;
    QTimer tick_;
    QTimer silence_;                              // a call falling silent between two ticks
    std::map<QByteArray, QString> registrations_; // bytes -> ID
    QHash<QString, QByteArray> ids_;              // ID -> bytes
    std::map<QTcpSocket*, std::unique_ptr<Call>> calls_;
    QHash<QString, Call*> held_;           // ID -> its call
    QHash<QString, int> unregisteredFrom_; // address -> calls not yet registered
    QHash<QString, QDateTime> lastCall_;
    QHash<QString, qint64> lastSaid_; // address -> when the log last named it
    QElapsedTimer clock_;
    DialinCounts counts_;
};
