// The controller behind a real serial device server: kv9000-sim on a pseudo-terminal, served by
// ser2net raw and as RFC 2217, reached through ports mapped to tcp:// and rfc2217:// addresses.
// Discovery, identity and a whole download in both modes; an answer later than its time-out over
// a far network; a box lost in the middle, one that never answers, one that is not there; a far
// network through a delaying relay; the port doctor's check of a network port.

#include "ArchiveDownload.h"
#include "ControllerRead.h"
#include "DelayRelay.h"
#include "DeviceHold.h"
#include "Discovery.h"
#include "FrameLink.h"
#include "IdentityCommands.h"
#include "MappedPorts.h"
#include "Port.h"
#include "PortMap.h"
#include "PortProbe.h"
#include "Ser2Net.h"
#include "SimArchive.h"
#include "SimProcess.h"
#include "TestQtApp.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

class DeviceServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureQtCoreApp(); }

    std::unique_ptr<SimProcess> Sim(const QByteArray& image, QStringList args) {
        const QString path = dir_.filePath(QStringLiteral("image%1.bin").arg(++images_));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(image);
        f.close();
        return std::make_unique<SimProcess>(args << QStringLiteral("--image") << path);
    }

    QTemporaryDir dir_;
    int images_ = 0;
};

TEST_F(DeviceServerTest, DiscoveryIdentityAndDownloadInBothModes) {
    const QByteArray images[2] = {sim::GenerateArchive(1, 51), sim::GenerateArchive(2, 52)};
    auto raw = Sim(images[0], {"--channels", "1", "--serial", "501"});
    auto telnet = Sim(images[1], {"--channels", "2", "--serial", "502"});
    ASSERT_TRUE(raw->Running() && telnet->Running());
    Ser2Net box({{raw->Device(), Ser2Net::Mode::Raw}, {telnet->Device(), Ser2Net::Mode::Rfc2217}});
    ASSERT_TRUE(box.Running());
    PortMap ports = MappedPorts({{5, box.Url(0)}, {6, box.Url(1)}});

    for (int i = 0; i < 2; ++i) {
        const int port = 5 + i;
        FrameLink link(ports);
        const DiscoveryResult found = DiscoverController(link, port, 115200);
        ASSERT_EQ(found.port, port) << box.Url(i).toStdString();
        EXPECT_EQ(found.channelCount, i + 1);
        EXPECT_EQ(link.CurrentPortLabel(), QStringLiteral("COM%1 (%2)").arg(port).arg(box.Url(i)));
        EXPECT_TRUE(link.RoundTripMs().has_value());
        EXPECT_EQ(link.OpenNotice(), QString()) << "ser2net takes the line's settings";
        const IdentityReadResult identity = ReadIdentity(link);
        EXPECT_EQ(identity.serial, std::optional<std::uint16_t>(501 + i));
        const DownloadResult download = DownloadArchive(link, {});
        ASSERT_EQ(download.outcome, DownloadOutcome::Completed);
        EXPECT_EQ(download.txFailures + download.rxFailures, 0);
        EXPECT_TRUE(download.image == images[i])
            << "the image through " << box.Url(i).toStdString();
    }
}

// A box that passes bytes as they are, named as an RFC 2217 box: it never answers the telnet
// greeting, and its data (an archive full of 0xFF) would be read as telnet. It is not used: the
// open fails at once with the advice to name it tcp://, and nothing is read through it.
TEST_F(DeviceServerTest, ARawBoxNamedAsRfc2217IsRefusedWithTheAdviceToUseTcp) {
    auto sim = Sim(sim::GenerateArchive(1, 56), {"--channels", "1"});
    ASSERT_TRUE(sim->Running());
    Ser2Net box({{sim->Device(), Ser2Net::Mode::Raw}});
    ASSERT_TRUE(box.Running());
    const QString raw = box.Url(0);
    PortMap ports = MappedPorts({{8, QStringLiteral("rfc2217://127.0.0.1:%1").arg(box.Port(0))}});

    FrameLink link(ports);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(OpenPort(link, 8, 115200));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(link.OpenBusy());
    EXPECT_TRUE(link.OpenFailure().contains(QStringLiteral("RFC 2217")) &&
                link.OpenFailure().endsWith(QStringLiteral("укажите для него ") + raw))
        << link.OpenFailure().toStdString();
    EXPECT_EQ(DiscoverController(link, 8, 115200).port, 0);

    // Named as it is, the same box reads.
    link.SetPortMap(MappedPorts({{9, raw}}));
    ASSERT_EQ(DiscoverController(link, 9, 115200).port, 9);
    EXPECT_EQ(ReadIdentity(link).serial, std::optional<std::uint16_t>(12345));
}

// One box is one device however it is written: while a link has it open, a second link of
// this program is refused at once, "порт занят", and is let in when the first closes.
TEST_F(DeviceServerTest, OneBoxWrittenTwoWaysIsOpenedByOneLinkAtATime) {
    int port = 0;
    const auto sim = StartSimFleet(1, {"--channels", "1"}, port);
    ASSERT_TRUE(sim->Running());
    PortMap ports =
        MappedPorts({{10, QStringLiteral("tcp://127.0.0.1:%1").arg(port)},
                     {11, QStringLiteral("TCP://localhost:%1").arg(port)},
                     {12, QStringLiteral("rfc2217://[::ffff:127.0.0.1]:%1").arg(port)}});
    FrameLink first(ports);
    ASSERT_TRUE(OpenPort(first, 10, 115200));
    for (const int other : {11, 12}) {
        FrameLink second(ports);
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(OpenPort(second, other, 115200)) << other;
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_TRUE(second.OpenBusy()) << other;
        EXPECT_TRUE(second.OpenFailure().startsWith(QStringLiteral("порт занят")))
            << second.OpenFailure().toStdString();
    }
    QByteArray text;
    EXPECT_TRUE(ReadIdentification(first, text));
    first.CloseCOM();
    FrameLink second(ports);
    ASSERT_TRUE(OpenPort(second, 11, 115200));
    EXPECT_TRUE(ReadIdentification(second, text));
    second.CloseCOM();

    // Where the hold cannot be written down for the user's other programs, the box is not
    // used either: they could not see it held.
    QFile blocker(dir_.filePath(QStringLiteral("not-a-folder")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ports.SetHoldFolder(blocker.fileName() + QStringLiteral("/ports"));
    FrameLink third(ports);
    EXPECT_FALSE(OpenPort(third, 10, 115200));
    EXPECT_FALSE(third.OpenBusy());
    EXPECT_TRUE(third.OpenFailure().startsWith(QStringLiteral("порт не удаётся занять")))
        << third.OpenFailure().toStdString();
}

// Over a far network whose connection is answered near (a reply time-out of about 500 ms), a
// cellular line in a bad minute: one answer 840 ms late, every byte 60 ms on its way each
// direction. The late answer comes while its block is asked again, the answer to that asking on
// its own just after: neither may pass for a later block, nor a flash answer for the serial
// number asked after the blocks.
TEST_F(DeviceServerTest, AnAnswerLaterThanItsTimeOutIsNeverTakenForALaterBlock) {
    const QByteArray image = sim::GenerateArchive(1, 55);
    const QString path = dir_.filePath(QStringLiteral("late.bin"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(image);
    f.close();
    int port = 0;
    const auto sim = StartSimFleet(1,
                                   {"--channels", "1", "--image", path, "--serial", "4242",
                                    "--late", "5,12", "--late-ms", "840"},
                                   port);
    ASSERT_TRUE(sim->Running());
    DelayRelay relay(static_cast<unsigned short>(port), 60);
    PortMap ports = MappedPorts({{7, QStringLiteral("tcp://127.0.0.1:%1").arg(relay.Port())}});

    FrameLink link(ports);
    ASSERT_EQ(DiscoverController(link, 7, 115200).port, 7);
    DownloadResult counts;
    QByteArray read;
    for (std::uint32_t block = 0; block < 16; ++block)
        ASSERT_EQ(FetchArchiveBlock(link, block * 32, 32, {}, {}, counts, read),
                  DownloadOutcome::Completed);
    EXPECT_GE(counts.rxFailures, 2) << "the late answers timed out";
    EXPECT_TRUE(read == image.left(16 * 32));
    EXPECT_EQ(ReadControllerOnLine(link).serial, std::optional<std::uint16_t>(4242));
}

// The box goes away in the middle of a download: the read ends as on a pulled adapter, and once
// the box is back the next read connects anew on the same link.
TEST_F(DeviceServerTest, ALostConnectionEndsTheReadAndTheNextReadConnectsAnew) {
    auto sim = Sim(sim::GenerateArchive(2, 53), {"--channels", "2"});
    ASSERT_TRUE(sim->Running());
    auto box = std::make_unique<Ser2Net>(
        std::vector<std::pair<QString, Ser2Net::Mode>>{{sim->Device(), Ser2Net::Mode::Raw}});
    ASSERT_TRUE(box->Running());
    const unsigned short boxPort = box->Port(0);
    PortMap ports = MappedPorts({{5, box->Url(0)}});

    FrameLink link(ports);
    ControllerReadHooks hooks;
    hooks.onProgress = [&](int offset) {
        if (offset > ArchiveSize / 3)
            box->Kill();
    };
    QElapsedTimer clock;
    clock.start();
    const ControllerRead read = ReadController(link, ResolvePort(5, ports), 115200, hooks);
    EXPECT_EQ(read.outcome, ControllerReadOutcome::PortLost);
    EXPECT_TRUE(read.download.image.isEmpty());
    EXPECT_LT(clock.elapsed(), 20000);

    box = std::make_unique<Ser2Net>(
        std::vector<std::pair<QString, Ser2Net::Mode>>{{sim->Device(), Ser2Net::Mode::Raw}},
        std::vector<unsigned short>{boxPort});
    ASSERT_TRUE(box->Running());
    ASSERT_TRUE(link.ReconnectIfLost());
    QByteArray text;
    EXPECT_TRUE(ReadIdentification(link, text));
    EXPECT_TRUE(IsControllerIdentification(text));
}

// A box that accepts and never answers gives the reply's time-out, not a hang; a box that is
// not there is said at once with its cause.
TEST_F(DeviceServerTest, ASilentBoxTimesOutAndAMissingOneIsRefused) {
    int master = -1;
    int slave = -1;
    char name[128] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0); // nobody answers on it
    Ser2Net box({{QString::fromLatin1(name), Ser2Net::Mode::Raw}});
    ASSERT_TRUE(box.Running());
    const QString missing = QStringLiteral("tcp://127.0.0.1:%1").arg(FreeTcpPort());
    PortMap ports = MappedPorts({{5, box.Url(0)}, {6, missing}});

    FrameLink link(ports);
    ASSERT_TRUE(OpenPort(link, 5, 115200));
    QElapsedTimer clock;
    clock.start();
    QByteArray text;
    EXPECT_FALSE(ReadIdentification(link, text));
    EXPECT_EQ(link.LastOutcome(), LinkOutcome::TimedOut);
    EXPECT_LT(clock.elapsed(), IdentificationTimeoutMs + link.ReplyAllowanceMs() + 300);

    clock.restart();
    FrameLink other(ports);
    EXPECT_FALSE(OpenPort(other, 6, 115200));
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(other.OpenFailure().contains(QStringLiteral("отклонено")))
        << other.OpenFailure().toStdString();
    close(master);
    close(slave);
}

// Behind a far network (300 ms there and back) the controller's 200 ms would pass for silence:
// the round trip measured on connecting is added to the reply's time-out.
TEST_F(DeviceServerTest, TheRoundTripLengthensTheReplyTimeOut) {
    auto sim = Sim(sim::GenerateArchive(1, 54), {"--channels", "1"});
    ASSERT_TRUE(sim->Running());
    Ser2Net box({{sim->Device(), Ser2Net::Mode::Rfc2217}});
    ASSERT_TRUE(box.Running());
    DelayRelay relay(box.Port(0), 150);
    PortMap ports = MappedPorts({{7, QStringLiteral("rfc2217://127.0.0.1:%1").arg(relay.Port())}});

    FrameLink link(ports);
    ASSERT_TRUE(OpenPort(link, 7, 115200));
    ASSERT_TRUE(link.RoundTripMs().has_value());
    EXPECT_GE(*link.RoundTripMs(), 300);
    EXPECT_LT(*link.RoundTripMs(), 1000);
    QByteArray text;
    EXPECT_TRUE(ReadIdentification(link, text));
    EXPECT_TRUE(IsControllerIdentification(text));
}

// The port doctor lists a network port with its address, whether the box answers, the round
// trip and whether the controller answers; a box that is not there is said so.
TEST_F(DeviceServerTest, TheDoctorChecksABoxAndTheControllerBehindIt) {
    SimProcess sim({"--channels", "2"});
    ASSERT_TRUE(sim.Running());
    Ser2Net box({{sim.Device(), Ser2Net::Mode::Rfc2217}});
    ASSERT_TRUE(box.Running());
    const QString missing = QStringLiteral("tcp://127.0.0.1:%1").arg(FreeTcpPort());
    PortMap ports = MappedPorts({{20, box.Url(0)}, {21, missing}});

    SurveyReport report = SurveyPorts(ports, SurveyRoots{}, SurveyUser::Current());
    ASSERT_EQ(report.rows.size(), 2u);
    EXPECT_EQ(DescribeRowState(report.rows[0]), QStringLiteral("сетевой порт"));
    CheckReadyPorts(report, ports, 115200);
    const QString text = FormatSurveyText(report);
    EXPECT_TRUE(text.contains(QStringLiteral("COM20  %1  — устройство отвечает").arg(box.Url(0))))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("круговая задержка сети"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("ответ: Лорк КB-9000Л-2К"))) << text.toStdString();
    EXPECT_TRUE(text.contains(
        QStringLiteral("COM21  %1  — устройство не отвечает: соединение отклонено").arg(missing)))
        << text.toStdString();
}

} // namespace
