#pragma once

// The fleet a listener holds calls for: the dial-in lines ("dialin:ID") of the fleet list the
// library window shows, or of the team server's list when a server is set; read again when it
// changes (the file looked at every few seconds, the server asked every minute, off the event
// thread). A list that cannot be read keeps the fleet as it was, said once.

#include "FleetList.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <vector>

class DialinFleet : public QObject {
    Q_OBJECT
public:
    // server empty: the list at path.
    DialinFleet(QString path, QString server, QObject* parent = nullptr);
    ~DialinFleet() override;
    // Reads the list now and then whenever it changes.
    void Start();
    const std::vector<FleetEntry>& Entries() const { return entries_; }

signals:
    // The dial-in IDs of the list (after "dialin:"), when they are read anew.
    void Changed(const QStringList& ids);
    void Problem(const QString& text);

private:
    void Look();
    void Take(const FleetList& list, const QString& source);

    QString path_;
    QString server_;
    QTimer timer_;
    QDateTime modified_;
    qint64 size_ = -1;
    QByteArray last_;
    QString lastProblem_;
    std::vector<FleetEntry> entries_;
    std::atomic<bool> pulling_{false};
    qint64 lastPullMs_ = -1;
};

// "dialin:KV0042" -> "KV0042"; empty for any other port.
QString DialinId(const QString& port);
