#include "SimulatedVisit.h"
#include "MappedPorts.h"

#include "ArchiveDownload.h"
#include "Cp1251.h"
#include "FrameLink.h"
#include "IdentityCommands.h"
#include "PortMap.h"
#include "SimProcess.h"
#include "TestQtApp.h"

QString KeepSimulatedVisit(const SimulatedVisit& visit, const QString& archivesFolder,
                           QString& error) {
    EnsureQtCoreApp();
    QStringList args{QStringLiteral("--at"),       visit.at,
                     QStringLiteral("--serial"),   QString::number(visit.serial),
                     QStringLiteral("--channels"), QString::number(visit.channels),
                     QStringLiteral("--comment"),  visit.comment};
    if (visit.historySeed >= 0)
        args << QStringLiteral("--history-seed") << QString::number(visit.historySeed);
    SimProcess sim(args);
    if (!sim.Running()) {
        error = QStringLiteral("the simulator did not start");
        return {};
    }
    FrameLink link(MappedPorts({{1, sim.Device()}}));
    if (!link.OpenCOM("COM1", 115200) || !link.SetModeCOM(3, 0)) {
        error = QStringLiteral("the port did not open");
        return {};
    }
    link.DeviceAddress = 1;
    const IdentityReadResult identity = ReadIdentity(link);
    const DownloadResult download = DownloadArchive(link, {});
    link.CloseCOM();
    if (!identity.error.isEmpty() || download.outcome != DownloadOutcome::Completed) {
        error = QStringLiteral("the visit failed: %1").arg(QString::fromLatin1(identity.error));
        return {};
    }
    ArchiveFileContents contents;
    contents.channelCount = visit.channels;
    contents.serial = identity.serial;
    contents.address = identity.address;
    contents.identification = FromCp1251(identity.identification.value_or(QByteArray()));
    contents.comment = FromCp1251(identity.comment.value_or(QByteArray()));
    contents.port = QStringLiteral("COM1");
    // The engineer's laptop shows the controller's own wall time here.
    QDateTime when = QDateTime::fromString(visit.at, Qt::ISODate);
    if (!when.isValid())
        when = QDateTime(QDate::fromString(visit.at, Qt::ISODate), QTime(0, 0));
    contents.downloadedAt = QDateTime(when.date(), when.time(), Qt::OffsetFromUTC, 0);
    contents.image = download.image;
    const QString path = AutoSavePath(archivesFolder, contents);
    error = WriteArchiveFile(path, contents);
    return error.isEmpty() ? path : QString();
}
