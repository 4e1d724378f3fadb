// Reading only the new records against the simulator paced at 115,200 bit/s: a two-channel
// controller revisited 30 days and 1 day after its last kept download, from a few starting
// moments (where the write position falls changes the erased stretch read). Prints, per revisit,
// the blocks read, the time of the whole read (find, identity, new records, the check after) and
// the line time of the blocks read; the whole archive's line time for comparison. Then a revisit
// 7 days after through ser2net and a relay that delays each direction 25 ms (a cellular modem),
// against the line time plus a round trip for each block read.
//
//     bench_new_records [DATES] [--no-relay]   (default 3 starting moments)

#include "ArchiveFile.h"
#include "DelayRelay.h"
#include "MappedPorts.h"
#include "NewRecordsRead.h"
#include "PacedLineFloor.h"
#include "Port.h"
#include "PortMap.h"
#include "Ser2Net.h"
#include "SimHistory.h"
#include "SimProcess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr double kBitsPerByte = 10.0;
constexpr double kBaud = 115200.0;
constexpr double kBytesPerBlock = 11 + 38; // the request's frame and the 32-byte answer's
constexpr int kRelayDelayMs = 25;

double LineSeconds(int blocks) {
    return blocks * kBytesPerBlock * kBitsPerByte / kBaud;
}

struct Revisit {
    int blocks = 0;
    double seconds = 0;
    QString wholeCause;
};

// A controller kept at `earlier` and read again `days` later through the port that portFor
// makes of the simulator's pseudo-terminal; nothing when the read failed or gave a wrong image.
std::optional<Revisit> RunRevisit(const QDateTime& earlier, int days,
                                  const std::function<QString(const QString&)>& portFor) {
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
        return std::nullopt;
    const QDateTime at = earlier.addDays(days);
    SimProcess sim({"--baud", "115200", "--at", at.toString("yyyy-MM-ddTHH:mm")});
    if (!sim.Running())
        return std::nullopt;
    FrameLink link(MappedPorts({{1, portFor(sim.Device())}}));
    QElapsedTimer clock;
    clock.start();
    const NewRecordsControllerRead r =
        ReadControllerNewRecords(link, ResolvePort(1, link.Ports()), 115200, dir.path());
    Revisit revisit{r.blocksRead, clock.elapsed() / 1000.0, r.wholeReadCause};
    link.CloseCOM();
    if (r.read.outcome != ControllerReadOutcome::Completed ||
        r.read.download.image != sim::HistoryArchiveAt(2, 12345, at)) {
        std::printf("read failed or wrong image\n");
        return std::nullopt;
    }
    return revisit;
}

QString CauseNote(const Revisit& r) {
    return r.wholeCause.isEmpty() ? QString() : "  whole: " + r.wholeCause;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int dates = argc > 1 ? std::atoi(argv[1]) : 3;
    const bool relay = !(argc > 2 && std::strcmp(argv[2], "--no-relay") == 0);
    std::printf("whole archive: 8448 blocks, line time %.1f s\n", LineSeconds(8448));
    // The least the blocks read can take here: their line time at the machine's floor.
    const double floor = PrintPacedLineFloor(static_cast<int>(kBaud), 11, 38);
    std::printf("%-18s %6s %7s %8s %9s %9s\n", "last download", "after", "blocks", "time s",
                "line s", "floor s");
    for (int d = 0; d < dates; ++d) {
        const QDateTime earlier = QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC)
                                      .addSecs(qint64{d} * 11 * 86400 + d * 7 * 1800);
        for (const int days : {30, 1}) {
            const auto r = RunRevisit(earlier, days, [](const QString& device) { return device; });
            if (!r)
                return 1;
            std::printf("%-18s %4d d %7d %8.2f %9.2f %9.2f%s\n",
                        qPrintable(earlier.toString("yyyy-MM-dd HH:mm")), days, r->blocks,
                        r->seconds, LineSeconds(r->blocks), LineSeconds(r->blocks) * floor,
                        qPrintable(CauseNote(*r)));
        }
    }
    if (relay) {
        // The box and the relay live as long as the revisit's simulator, no longer.
        std::unique_ptr<Ser2Net> box;
        std::unique_ptr<DelayRelay> far;
        const auto r = RunRevisit(
            QDateTime(QDate(2025, 1, 1), QTime(0, 0), Qt::UTC), 7, [&](const QString& device) {
                box = std::make_unique<Ser2Net>(
                    std::vector<std::pair<QString, Ser2Net::Mode>>{{device, Ser2Net::Mode::Raw}});
                far = std::make_unique<DelayRelay>(box->Port(0), kRelayDelayMs);
                return QStringLiteral("tcp://127.0.0.1:%1").arg(far->Port());
            });
        if (!r)
            return 1;
        const double expected = LineSeconds(r->blocks) + r->blocks * 2 * kRelayDelayMs / 1000.0;
        std::printf("through ser2net and a relay of %d ms each way, 7 d after: %d blocks, %.2f s "
                    "(target <= 60), line time plus round trips %.2f s%s\n",
                    kRelayDelayMs, r->blocks, r->seconds, expected, qPrintable(CauseNote(*r)));
    }
    return 0;
}
