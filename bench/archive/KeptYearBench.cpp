// One year of nightly downloads of one two-channel controller kept as the program keeps them:
// 365 images of the simulated controller's history a day apart, each written as a compressed
// archive file and read back (image and SHA-256 checked). Prints the year's total on disk, the
// sizes per file, the plain files' total for comparison, and the time to write and read one.
//
//   bench_kept_year [CHANNELS] [DAYS]

#include "ArchiveFile.h"
#include "SimHistory.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const int channels = argc > 1 ? std::atoi(argv[1]) : 2;
    const int days = argc > 2 ? std::atoi(argv[2]) : 365;
    const QDateTime first(QDate(2024, 1, 1), QTime(2, 0), Qt::UTC);
    qint64 total = 0, plainTotal = 0, smallest = -1, largest = 0;
    double encodeMs = 0, decodeMs = 0;
    int bad = 0;
    for (int day = 0; day < days; ++day) {
        ArchiveFileContents c;
        c.channelCount = channels;
        c.serial = 12345;
        c.address = 1;
        c.identification = QStringLiteral("КВ-9000Л-2К вер. 1.07");
        c.comment = QStringLiteral("Котельная");
        c.port = QStringLiteral("tcp://10.0.0.7:4001");
        c.downloadedAt = QDateTime(first.addDays(day).date(), first.time(), Qt::OffsetFromUTC, 0);
        c.image = sim::HistoryArchiveAt(channels, 12345, first.addDays(day));
        QElapsedTimer timer;
        timer.start();
        const QByteArray bytes = EncodeCompressedArchiveFile(c);
        encodeMs += static_cast<double>(timer.nsecsElapsed()) / 1e6;
        timer.restart();
        const ArchiveFileReadResult read = DecodeArchiveFile(bytes);
        decodeMs += static_cast<double>(timer.nsecsElapsed()) / 1e6;
        if (!read.contents || read.contents->image != c.image ||
            read.imageSha256 != ArchiveImageSha256(c.image))
            ++bad;
        total += bytes.size();
        plainTotal += EncodeArchiveFile(c).size();
        smallest = smallest < 0 ? bytes.size() : std::min<qint64>(smallest, bytes.size());
        largest = std::max<qint64>(largest, bytes.size());
    }
    std::printf("kept files:            %d nightly downloads, %d channel(s)\n", days, channels);
    std::printf("compressed, total:     %.2f MB (%lld bytes)\n", static_cast<double>(total) / 1e6,
                static_cast<long long>(total));
    std::printf("compressed, per file:  mean %.1f KB, smallest %.1f KB, largest %.1f KB\n",
                static_cast<double>(total) / days / 1e3, static_cast<double>(smallest) / 1e3,
                static_cast<double>(largest) / 1e3);
    std::printf("plain files, total:    %.2f MB\n", static_cast<double>(plainTotal) / 1e6);
    std::printf("write one / read one:  %.1f ms / %.1f ms\n", encodeMs / days, decodeMs / days);
    std::printf("files not read back whole: %d\n", bad);
    return bad == 0 ? 0 : 1;
}
