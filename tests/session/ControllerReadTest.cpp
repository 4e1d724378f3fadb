// Reading controllers without a window, each on a link of its own, against simulated controllers
// over real pseudo-terminals: two at once in one process, the port doctor's check in the middle
// of a download, and the outcomes a failed read names.

#include "ControllerRead.h"
#include "ArchiveDownload.h"
#include "Cp1251.h"
#include "Discovery.h"
#include "FrameLink.h"
#include "MappedPorts.h"
#include "Port.h"
#include "PortMap.h"
#include "PortProbe.h"
#include "ServiceSession.h"
#include "SimArchive.h"
#include "SimProcess.h"
#include "TestQtApp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ControllerReadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureQtCoreApp(); }

    // A simulator serving the image, with its own identity; logs its requests to log when given.
    std::unique_ptr<SimProcess> Sim(const QByteArray& image, QStringList args,
                                    const QString& log = {}) {
        const QString path = dir_.filePath(QStringLiteral("image%1.bin").arg(++images_));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(image);
        f.close();
        args << QStringLiteral("--image") << path;
        if (!log.isEmpty())
            args << QStringLiteral("--log") << log;
        return std::make_unique<SimProcess>(args);
    }

    QTemporaryDir dir_;
    int images_ = 0;
};

// What one thread did: its read, and when it ran.
struct Reader {
    int port = 0;
    ControllerRead read;
    qint64 startedMs = 0;
    qint64 endedMs = 0;
};

TEST_F(ControllerReadTest, TwoReadsAtOnceInOneProcessGiveTwoCorrectImages) {
    const QByteArray one = sim::GenerateArchive(1, 11);
    const QByteArray two = sim::GenerateArchive(2, 22);
    ASSERT_NE(one, two);
    auto a = Sim(one, {"--channels", "1", "--serial", "1111"});
    auto b = Sim(two, {"--channels", "2", "--serial", "2222"});
    ASSERT_TRUE(a->Running() && b->Running());
    PortMap ports = MappedPorts({{1, a->Device()}, {2, b->Device()}});

    QElapsedTimer clock;
    clock.start();
    Reader readers[2];
    std::unique_ptr<QThread> threads[2];
    for (int i = 0; i < 2; ++i) {
        Reader& r = readers[i];
        r.port = i + 1;
        threads[i].reset(QThread::create([&r, &clock, &ports] {
            FrameLink link(ports); // made, used and closed on this thread
            r.startedMs = clock.elapsed();
            r.read = ReadController(link, ResolvePort(r.port, link.Ports()), 115200);
            r.endedMs = clock.elapsed();
        }));
        threads[i]->start();
    }
    for (auto& t : threads)
        ASSERT_TRUE(t->wait(60000));

    const QByteArray* expected[2] = {&one, &two};
    for (int i = 0; i < 2; ++i) {
        const ControllerRead& read = readers[i].read;
        ASSERT_EQ(read.outcome, ControllerReadOutcome::Completed) << i;
        EXPECT_EQ(read.found.port, i + 1);
        EXPECT_EQ(read.found.channelCount, i + 1);
        EXPECT_EQ(read.identity.serial, std::optional<std::uint16_t>(1111 * (i + 1)));
        EXPECT_EQ(read.onLine.serial, read.identity.serial);
        // Answers crossing between the two links would fail block after block; a loaded
        // machine may delay a reply or two, which the download's retry mends.
        EXPECT_LE(read.download.rxFailures + read.download.txFailures, 3) << i;
        EXPECT_TRUE(read.download.image == *expected[i]) << "the image of reader " << i;
    }
    // Each download takes most of a second at least: the two really ran side by side.
    EXPECT_LT(readers[0].startedMs, readers[1].endedMs);
    EXPECT_LT(readers[1].startedMs, readers[0].endedMs);
}

// The port doctor's check runs while a link is in the middle of a download (as the window lets
// its messages be handled between blocks): it asks the other port through a link of its own and
// never the port being downloaded from, so that controller hears nothing but the flash reads.
TEST_F(ControllerReadTest, DoctorCheckDuringADownloadLeavesItIntact) {
    const QByteArray image = sim::GenerateArchive(2, 33);
    const QString log = dir_.filePath(QStringLiteral("downloaded.log"));
    auto downloaded = Sim(image, {"--channels", "2"}, log);
    SimProcess other({"--channels", "1"});
    ASSERT_TRUE(downloaded->Running() && other.Running());
    PortMap ports = MappedPorts({{1, downloaded->Device()}, {2, other.Device()}});

    FrameLink link(ports);
    ASSERT_TRUE(OpenPort(link, 1, 115200));
    SurveyReport report;
    int blocks = 0;
    DownloadHooks hooks;
    hooks.processEvents = [&] {
        if (++blocks != 1000)
            return;
        report = SurveyPorts(ports, SurveyRoots{}, SurveyUser::Current());
        CheckReadyPorts(report, ports, 115200);
    };
    const DownloadResult result = DownloadArchive(link, hooks);

    ASSERT_EQ(result.outcome, DownloadOutcome::Completed);
    // The check must not disturb the download: a reply or two late on a loaded machine is
    // asked again, nothing more.
    EXPECT_EQ(result.txFailures, 0);
    EXPECT_LE(result.rxFailures, 3);
    EXPECT_TRUE(result.image == image);
    ASSERT_EQ(report.rows.size(), 2u);
    EXPECT_TRUE(report.rows[0].openHere);
    EXPECT_EQ(report.rows[0].answer, QStringLiteral("—"));
    EXPECT_FALSE(report.rows[1].openHere);
    EXPECT_EQ(report.rows[1].answer, QStringLiteral("Лорк КB-9000Л вер. 1.07"));
    EXPECT_EQ(link.CurrentPort(), 1);

    int requests = 0;
    for (const QJsonObject& line : ReadSimLog(log)) {
        if (line.value(QStringLiteral("dir")).toString() != QLatin1String("rx"))
            continue;
        ++requests;
        EXPECT_EQ(line.value(QStringLiteral("command")).toInt(), 30);
    }
    EXPECT_EQ(requests, FlashBlockCount + result.rxFailures)
        << "one request per block and per late reply, nothing else";
}

// A read without a window is kept as the window keeps a download: the controller's identity as
// read, its port and the image, in a new file among the kept downloads.
TEST_F(ControllerReadTest, AReadIsKeptWithTheIdentityAndImageTheControllerGave) {
    const QByteArray image = sim::GenerateArchive(2, 44);
    auto sim = Sim(image, {"--channels", "2", "--serial", "4242", "--comment", "Котельная №3",
                           "--address", "7"});
    ASSERT_TRUE(sim->Running());
    FrameLink link(MappedPorts({{3, sim->Device()}}));
    link.DeviceAddress = 7;
    const ControllerRead read = ReadController(link, ResolvePort(3, link.Ports()), 115200);
    ASSERT_EQ(read.outcome, ControllerReadOutcome::Completed);

    ServiceSession session(dir_.filePath(QStringLiteral("archives")));
    const QDateTime now = QDateTime::currentDateTime();
    const ServiceSession::KeptDownload kept = session.KeepRead(read, link.CurrentPortName(), now);
    EXPECT_FALSE(kept.anotherController);
    session.WaitForSaves();
    QCoreApplication::processEvents(); // the news of the write, as a program's loop delivers it
    ASSERT_FALSE(session.KeptPath().isEmpty());

    const ArchiveFileReadResult file = ReadArchiveFile(session.KeptPath());
    ASSERT_TRUE(file.contents) << file.error.toStdString();
    EXPECT_EQ(file.contents->channelCount, 2);
    EXPECT_EQ(file.contents->serial, std::optional<std::uint16_t>(4242));
    EXPECT_EQ(file.contents->address, std::optional<std::uint8_t>(7));
    EXPECT_EQ(file.contents->comment, QStringLiteral("Котельная №3"));
    EXPECT_EQ(file.contents->identification, QStringLiteral("Лорк КB-9000Л-2К вер. 1.07"));
    EXPECT_EQ(file.contents->port, QStringLiteral("COM3"));
    EXPECT_TRUE(file.contents->image == image);
}

// A read that fails says why: no controller on the port, or a port lost in the middle (not a
// time-out, which the same counts would suggest).
TEST_F(ControllerReadTest, AFailedReadNamesItsCause) {
    auto sim = Sim(sim::GenerateArchive(2), {"--die-after", "300"});
    ASSERT_TRUE(sim->Running());
    FrameLink link(MappedPorts({{1, sim->Device()}}));

    const ControllerRead none = ReadController(link, ResolvePort(2, link.Ports()), 115200);
    EXPECT_EQ(none.outcome, ControllerReadOutcome::NoController);
    EXPECT_EQ(none.found.port, 0);
    EXPECT_FALSE(link.IsOpen());

    int lastProgress = 0;
    ControllerReadHooks hooks;
    hooks.onProgress = [&](int offset) { lastProgress = offset; };
    const ControllerRead lost = ReadController(link, ResolvePort(1, link.Ports()), 115200, hooks);
    EXPECT_EQ(lost.outcome, ControllerReadOutcome::PortLost);
    EXPECT_TRUE(lost.identity.error.isEmpty());
    EXPECT_EQ(lost.download.lastFailure, LinkOutcome::PortFailed);
    EXPECT_TRUE(lost.download.image.isEmpty());
    EXPECT_EQ(lastProgress, 299 * FlashBlockLength);
}

} // namespace
