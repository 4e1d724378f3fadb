// The exchange log: what it writes for a failing exchange against the simulator, its rotation,
// and a folder it cannot write.

#include "ExchangeLog.h"
#include "LinkTestSupport.h"
#include "MappedPorts.h"
#include "PortMap.h"
#include "SimProcess.h"
#include "TestQtApp.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

QStringList LinesOf(const QString& folder) {
    QStringList lines;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({"exchange-*.log"}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        lines += QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    return lines;
}

TEST(ExchangeLog, ShowsEveryFrameOfABadChecksumAndATimeOutAgainstTheSimulator) {
    EnsureQtCoreApp();
    QTemporaryDir dir;
    SimProcess sim({"--garbage", "--drop", "2"});
    ASSERT_FALSE(sim.Device().isEmpty());
    FrameLink link(MappedPorts({{1, sim.Device()}}));
    ASSERT_TRUE(link.OpenCOM("COM1", 115200));
    {
        ExchangeLog log(dir.path());
        link.SetTrace(&log);
        EXPECT_TRUE(Exchange(link, 30, FlashRead(0, 32), 200));
        EXPECT_FALSE(Exchange(link, 30, FlashRead(32, 32), 100));
        link.SetTrace(nullptr);
        EXPECT_EQ(log.RecentLines().size(), static_cast<qsizetype>(log.LineCount()));
    }
    link.CloseCOM();

    const QStringList lines = LinesOf(dir.path());
    const QRegularExpression time("^\\d\\d:\\d\\d:\\d\\d\\.\\d{6} ");
    for (const QString& line : lines)
        EXPECT_TRUE(time.match(line).hasMatch()) << line.toStdString();
    const QString all = lines.join('\n');
    EXPECT_TRUE(all.contains(" TX a=1 c=30 n=5 crc ok: 00 00 00 00 20\n")) << all.toStdString();
    EXPECT_TRUE(all.contains(QRegularExpression(" RX a=\\d+ c=30 n=\\d+ crc BAD, dropped: ")));
    EXPECT_TRUE(all.contains(" -- resynchronisation: "));
    EXPECT_TRUE(all.contains(QRegularExpression(" RX a=1 c=30 n=32 crc ok:( [0-9A-F]{2}){32}\n")));
    EXPECT_TRUE(all.contains(" TX a=1 c=30 n=5 crc ok: 20 00 00 00 20\n"));
    EXPECT_TRUE(lines.last().endsWith(" -- time-out: no answer in 100 ms"));
}

// The lines that explain a failure are in the file while the program still runs: within a
// second of the line going quiet, and at once after a time-out.
TEST(ExchangeLog, ReachesTheFileWithinASecondOfAQuietLineAndAtOnceAfterATimeOut) {
    EnsureQtCoreApp();
    QTemporaryDir dir;
    SimProcess sim({"--drop", "2"});
    ASSERT_FALSE(sim.Device().isEmpty());
    FrameLink link(MappedPorts({{1, sim.Device()}}));
    ASSERT_TRUE(link.OpenCOM("COM1", 115200));
    ExchangeLog log(dir.path());
    link.SetTrace(&log);
    EXPECT_TRUE(Exchange(link, 30, FlashRead(0, 32), 200));
    QElapsedTimer quiet;
    quiet.start();
    while (LinesOf(dir.path()).size() < 2 && quiet.elapsed() < 1000)
        QThread::msleep(10);
    EXPECT_EQ(LinesOf(dir.path()).size(), 2) << quiet.elapsed() << " ms";

    EXPECT_FALSE(Exchange(link, 30, FlashRead(32, 32), 100));
    const QStringList lines = LinesOf(dir.path());
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines.last().endsWith(" -- time-out: no answer in 100 ms"));
    link.SetTrace(nullptr);
    link.CloseCOM();
}

TEST(ExchangeLog, RotatesAtItsSizeLimitKeepsTheNewestFilesAndStopsOnAnUnwritableFolder) {
    QTemporaryDir dir;
    const std::uint8_t payload[5] = {1, 2, 3, 4, 5};
    const TracedFrame frame{1, 30, 5, payload};
    {
        ExchangeLog log(dir.path(), 3 * 55, 3);
        for (int i = 0; i < 40; ++i)
            log.FrameSent(frame); // 55 bytes a line: 3 lines a file, 14 files
    }
    const QFileInfoList files = QDir(dir.path()).entryInfoList({"exchange-*.log"}, QDir::Files);
    ASSERT_EQ(files.size(), 3);
    EXPECT_TRUE(files[0].fileName().endsWith("-012.log"));
    EXPECT_EQ(files[0].size(), 3 * 55);
    EXPECT_EQ(files[1].size(), 3 * 55);
    EXPECT_EQ(files[2].size(), 55);

    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    ExchangeLog log(dir.filePath("file/log"));
    int failures = 0;
    log.onFailure = [&](const QString&) { ++failures; };
    log.FrameSent(frame);
    log.ReplyTimedOut(200);
    EXPECT_TRUE(log.Failed());
    EXPECT_EQ(failures, 1);
}

} // namespace
