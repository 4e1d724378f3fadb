#include "DialinFleet.h"

#include "NetworkPort.h"
#include "TeamFleet.h"

#include <QDateTime>
#include <QFileInfo>

#include <thread>

namespace {

constexpr int LookEveryMs = 2000;
constexpr qint64 PullEveryMs = 60'000;

} // namespace

QString DialinId(const QString& port) {
    const NetworkPortParse parse = ParseNetworkPort(port.trimmed());
    return parse.ok && parse.port.protocol == NetworkProtocol::Dialin ? parse.port.host : QString();
}

DialinFleet::DialinFleet(QString path, QString server, QObject* parent)
    : QObject(parent), path_(std::move(path)), server_(std::move(server)) {
    timer_.setInterval(LookEveryMs);
    connect(&timer_, &QTimer::timeout, this, &DialinFleet::Look);
}

DialinFleet::~DialinFleet() {
    while (pulling_) // a pull on its way holds a pointer to this
        std::this_thread::yield();
}

void DialinFleet::Start() {
    Look();
    timer_.start();
}

void DialinFleet::Take(const FleetList& list, const QString& source) {
    if (!list.refusal.isEmpty()) {
        if (list.refusal != lastProblem_)
            emit Problem(source + QStringLiteral(": ") + list.refusal);
        lastProblem_ = list.refusal;
        return;
    }
    lastProblem_.clear();
    entries_.clear();
    QStringList ids;
    for (const FleetEntry& entry : list.entries)
        if (const QString id = DialinId(entry.port); !id.isEmpty()) {
            entries_.push_back(entry);
            ids << id;
        }
    emit Changed(ids);
}

void DialinFleet::Look() {
    if (!server_.isEmpty()) {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (pulling_ || (lastPullMs_ >= 0 && now - lastPullMs_ < PullEveryMs))
            return;
        lastPullMs_ = now;
        pulling_ = true;
        std::thread([this, server = server_] {
            const PulledFleetList pulled = PullFleetList(server);
            QMetaObject::invokeMethod(
                this,
                [this, pulled] {
                    if (!pulled.error.isEmpty()) {
                        FleetList failed;
                        failed.refusal = pulled.error;
                        Take(failed, QStringLiteral("список регуляторов на сервере"));
                    } else if (pulled.text != last_) {
                        last_ = pulled.text;
                        Take(ParseFleetList(pulled.text),
                             QStringLiteral("список регуляторов на сервере"));
                    }
                },
                Qt::QueuedConnection);
            pulling_ = false;
        }).detach();
        return;
    }
    const QFileInfo info(path_);
    if (info.exists() && info.lastModified() == modified_ && info.size() == size_)
        return;
    modified_ = info.lastModified();
    size_ = info.size();
    Take(ReadFleetList(path_), QStringLiteral("список регуляторов %1").arg(path_));
}
