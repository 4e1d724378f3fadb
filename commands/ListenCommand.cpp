#include "ListenCommand.h"

#include "CollectOnCall.h"
#include "ConsoleText.h"
#include "CoreModeRun.h"
#include "DialinFleet.h"
#include "DialinListener.h"
#include "DialinSettings.h"
#include "OneLinePath.h"
#include "PortSettings.h"
#include "SettingsFile.h"
#include "SettingsLocation.h"
#include "TeamFleet.h"
#include "UserFleetRun.h"
#include "UserFolders.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHostAddress>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>

#ifndef Q_OS_WIN
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

void Say(const QString& text) {
    WriteConsoleText(stderr, QStringLiteral("kv9000 --listen: %1\n").arg(text.simplified()));
}

int Fail(const QString& cause) {
    Say(cause);
    return 1;
}

#ifndef Q_OS_WIN
int signalPipe[2] = {-1, -1};
void OnStop(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}
// SIGINT and SIGTERM end the event loop (through a pipe: nothing else is safe in a handler).
void StopOnSignals(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGINT, OnStop);
    std::signal(SIGTERM, OnStop);
}
#else
void StopOnSignals(QCoreApplication&) {} // a console's Ctrl+C ends the process
#endif

int Listen(const CommandLine& line) {
    const ListenAddress where = ParseListenAddress(line.listenAddress);
    if (!where.cause.isEmpty()) {
        Say(QStringLiteral("--listen: ") + where.cause);
        return 2;
    }
    const SettingsLocation location = ProgramSettingsLocation();
    const SettingsFile settings(location.readPath, location.writePath);
    QStringList refused;
    const DialinSettings dialin = ReadDialinSettings(settings, &refused);
    for (const QString& r : refused)
        Say(r);
    const QString server =
        settings.ReadString(QStringLiteral("Library"), QStringLiteral("Server"), {}).trimmed();

    DialinListener listener(dialin, Say);
    DialinFleet fleet(FleetListPath(), server);
    QObject::connect(&fleet, &DialinFleet::Problem, &listener, [](const QString& p) { Say(p); });
    QObject::connect(&fleet, &DialinFleet::Changed, &listener, [&](const QStringList& ids) {
        listener.SetFleet(ids);
        Say(QStringLiteral("модемов в списке регуляторов: %1").arg(ids.size()));
    });
    fleet.Start();
    const QHostAddress address =
        where.host.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(where.host);
    if (const QString cause = listener.Start(address, where.port); !cause.isEmpty())
        return Fail(cause);
    Say(QStringLiteral("звонки модемов принимаются на %1 порт %2")
            .arg(where.host.isEmpty() ? QStringLiteral("всех адресах") : where.host)
            .arg(listener.Port()));

    std::optional<CollectOnCall> collector;
    if (dialin.collectAfterHours) {
        collector.emplace(
            *dialin.collectAfterHours,
            SettingsFleetOptions(settings, ReadPortSettings(settings).ports),
            UserFleetPlaces(server), [&fleet] { return fleet.Entries(); }, Say);
        collector->SetLease(settings.ReadInteger(
            QStringLiteral("Library"), QStringLiteral("Fleet lease"), DefaultFleetLeaseSeconds));
        QObject::connect(&listener, &DialinListener::Registered, &*collector,
                         [&](const QString& id, const QString&) { collector->Called(id); });
    }
    StopOnSignals(*QCoreApplication::instance());
    QCoreApplication::exec();
    Say(QStringLiteral("остановлен"));
    return 0;
}

} // namespace

ListenAddress ParseListenAddress(const QString& text) {
    ListenAddress result;
    QString portText = text;
    if (const qsizetype colon = text.lastIndexOf(u':'); colon >= 0) {
        QString host = text.left(colon);
        portText = text.mid(colon + 1);
        if (host.startsWith(u'[') && host.endsWith(u']'))
            host = host.mid(1, host.size() - 2);
        else if (host.contains(u':'))
            host.clear(), portText.clear(); // an IPv6 address needs its brackets
        if (QHostAddress(host).isNull()) {
            result.cause = QStringLiteral("«%1» не адрес этого компьютера (нужно [HOST:]PORT, "
                                          "например 127.0.0.1:5000)")
                               .arg(ShownName(text));
            return result;
        }
        result.host = host;
    }
    bool ok = false;
    const int port = portText.toInt(&ok);
    if (!ok || port < 1 || port > 65535 ||
        !std::all_of(portText.begin(), portText.end(), [](QChar c) { return c.isDigit(); })) {
        result.cause = QStringLiteral("номер порта «%1» не от 1 до 65535").arg(ShownName(portText));
        return result;
    }
    result.port = static_cast<quint16>(port);
    return result;
}

int AnswerListenCommand(const CommandLine& line, int& argc, char** argv) {
    return RunCoreMode(
        argc, argv, [&line] { return Listen(line); }, Fail);
}
