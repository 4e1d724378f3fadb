// Reading only the new records against the simulator paced at 115,200 bit/s: a two-channel
// controller revisited 30 days and 1 day after its last kept download, from a few starting
// moments (where the write position falls changes the erased stretch read). Prints, per revisit,
// the blocks read, the time of the whole read (find, identity, new records, the check after) and
// the line time of the blocks read; the whole archive's line time for comparison.
//
//     bench_new_records [DATES]   (default 3 starting moments)

#include "ArchiveFile.h"
#include "NewRecordsRead.h"
#include "PortMap.h"
#include "SimHistory.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr double kBitsPerByte = 10.0;
constexpr double kBaud = 115200.0;
constexpr double kBytesPerBlock = 11 + 38; // the request's frame and the 32-byte answer's

double LineSeconds(int blocks) {
    return blocks * kBytesPerBlock * kBitsPerByte / kBaud;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int dates = argc > 1 ? std::atoi(argv[1]) : 3;
    SetSystemSerialDevices([] { return QStringList{}; });
    std::printf("whole archive: 8448 blocks, line time %.1f s\n", LineSeconds(8448));
    std::printf("%-18s %6s %7s %8s %9s\n", "last download", "after", "blocks", "time s", "line s");
    for (int d = 0; d < dates; ++d) {
        const QDateTime earlier = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC)
                                      .addSecs(qint64{d} * 11 * 86400 + d * 7 * 1800);
        for (const int days : {30, 1}) {
            QTemporaryDir dir;
            ArchiveFileContents kept;
            kept.channelCount = 2;
            kept.serial = 12345;
            kept.address = 1;
            kept.identification = QStringLiteral("Лорк КB-9000Л-2К вер. 1.07");
            kept.downloadedAt = QDateTime::currentDateTime();
            kept.image = sim::HistoryArchiveAt(2, 12345, earlier);
            QString path;
            if (!KeepArchiveFile(dir.path(), kept, &path).isEmpty())
                return 1;
            const QDateTime at = earlier.addDays(days);
            SimProcess sim({"--baud", "115200", "--at", at.toString("yyyy-MM-ddTHH:mm")});
            if (!sim.Running())
                return 1;
            SetPortMap({{1, sim.Device()}});
            FrameLink link;
            QElapsedTimer clock;
            clock.start();
            const NewRecordsControllerRead r =
                ReadControllerNewRecords(link, 1, 115200, dir.path());
            const double seconds = clock.elapsed() / 1000.0;
            link.CloseCOM();
            if (r.read.outcome != ControllerReadOutcome::Completed ||
                r.read.download.image != sim::HistoryArchiveAt(2, 12345, at)) {
                std::printf("read failed or wrong image\n");
                return 1;
            }
            std::printf(
                "%-18s %4d d %7d %8.2f %9.2f%s\n", qPrintable(earlier.toString("yyyy-MM-dd HH:mm")),
                days, r.blocksRead, seconds, LineSeconds(r.blocksRead),
                r.wholeReadCause.isEmpty() ? "" : qPrintable("  whole: " + r.wholeReadCause));
        }
    }
    return 0;
}
