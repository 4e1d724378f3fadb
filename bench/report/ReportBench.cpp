// Prints how long the whole visit report of a full two-channel archive takes (reading the kept
// file and its previous visit, the findings, the charts, the PDF written): target <= 1 s; and the
// PDF's size: target <= 1 MB, small enough to mail. The last report stays at the path given as
// the first argument, if any; the simulator's own two-channel archive (as kv9000-sim serves it
// by default) is kept as an archive file at the second, if any, for kv9000 --report.

#include "ArchiveFile.h"
#include "ReportCommands.h"
#include "SimArchive.h"
#include "SimOptions.h"
#include "SimPlantedFaults.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

ArchiveFileContents Contents(QByteArray image, QDateTime at) {
    ArchiveFileContents c;
    c.channelCount = 2;
    c.serial = 4711;
    c.address = 3;
    c.identification = sim::DefaultIdentification(2);
    c.comment = QStringLiteral("Котельная школы");
    c.port = QStringLiteral("COM2");
    c.downloadedAt = at;
    c.image = std::move(image);
    return c;
}

sim::PlantedFault Plant(sim::PlantedKind kind, int channel, QDate day, double hours) {
    sim::PlantedFault f;
    f.kind = kind;
    f.channel = channel;
    f.start = QDateTime(day, QTime(6, 0), Qt::UTC);
    f.hours = hours;
    return f;
}

const QStringList kSettingsHeadings = {
    "№",        "Дата",   "Время", "Режим",  "Тип рег.", "Кнак.1", "Кнак.2", "Тнач.от.",
    "Тизл.от.", "Ккорр.", "tц.",   "tпост.", "Кп",       "Ки",     "Кд",     "Защ.инт."};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("4711"));
    QByteArray image = sim::GenerateArchive(2);
    sim::PlantFaults(image, 2,
                     {Plant(sim::PlantedKind::SensorDrop, 1, {2023, 11, 2}, 8),
                      Plant(sim::PlantedKind::OffCurve, 2, {2023, 11, 28}, 6),
                      Plant(sim::PlantedKind::ClockBack, 2, {2023, 12, 15}, 5),
                      Plant(sim::PlantedKind::RelayCycle, 1, {2023, 12, 22}, 30)});
    const QDateTime now(QDate(2024, 1, 10), QTime(12, 0), Qt::OffsetFromUTC, 3 * 3600);
    const QString path = folder + QStringLiteral("/2024-01-10_12-00-00.kvarc");
    WriteArchiveFile(path, Contents(image, now));
    WriteArchiveFile(folder + QStringLiteral("/2023-12-01_09-30-00.kvarc"),
                     Contents(sim::GenerateArchive(2, 5), now.addDays(-40)));

    const QString pdf = argc > 1 ? QString::fromLocal8Bit(argv[1]) : dir.filePath("r.pdf");
    if (argc > 2)
        WriteArchiveFile(QString::fromLocal8Bit(argv[2]), Contents(sim::GenerateArchive(2), now));
    std::vector<double> ms;
    for (int run = 0; run < 5; ++run) {
        const auto t0 = std::chrono::steady_clock::now();
        const CommandAnswer a = ReportCommand(path, pdf, kSettingsHeadings, QString());
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                .count());
        if (a.exitCode != 0) {
            std::fprintf(stderr, "%s", qPrintable(a.errors));
            return 1;
        }
    }
    std::sort(ms.begin(), ms.end());
    std::printf("whole visit report of a full two-channel archive, 5 runs: min %.0f ms, median "
                "%.0f ms, max %.0f ms (target <= 1000 ms); %lld bytes (target <= 1 MB)\n",
                ms.front(), ms[ms.size() / 2], ms.back(), QFileInfo(pdf).size());
    return 0;
}
