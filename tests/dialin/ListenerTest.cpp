// The dial-in listener as the program runs it (kv9000 --listen), with the modem simulator calling
// in over the loopback address, and the program's --read and --collect reaching the controllers
// through it.

#include "ListenerProcess.h"
#include "Loopback.h"
#include "ProgramRun.h"
#include "SimProcess.h"
#include "TestQtApp.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

class ListenerTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtCoreApp();
        ASSERT_TRUE(home_.isValid());
        environment_ = ProgramEnvironment();
        for (const char* name : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME"})
            environment_.insert(QString::fromLatin1(name), home_.path());
        const QString run = home_.filePath(QStringLiteral("run"));
        QDir().mkpath(run);
        QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment_.insert(QStringLiteral("XDG_RUNTIME_DIR"), run);
        QDir().mkpath(home_.filePath(QStringLiteral("kv9000")));
    }

    // The fleet list the listener holds calls for (and --collect reads).
    QString WriteFleet(const QStringList& ids) {
        const QString path = home_.filePath(QStringLiteral("kv9000/fleet.tsv"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QStringList lines{QStringLiteral("port\taddress\tname")};
        for (const QString& id : ids)
            lines << QStringLiteral("dialin:%1\t1\tКотельная %1").arg(id);
        file.write(lines.join(u'\n').toUtf8());
        return path;
    }

    // kv9000 --listen on a free loopback port, with the [Dial-in] section given (and more).
    // files: the limit of open files it starts with (soft, hard; 0: as the test's).
    void StartListener(const QString& dialin, std::pair<rlim_t, rlim_t> files = {}) {
        program_ = ProgramWithSettings(home_.filePath(QStringLiteral("bin")),
                                       QStringLiteral("[Dial-in]\n") + dialin);
        std::function<void()> inChild;
        if (files.first > 0)
            inChild = [files] {
                rlimit limit{};
                getrlimit(RLIMIT_NOFILE, &limit);
                limit.rlim_cur = files.first;
                limit.rlim_max = files.second > 0 ? files.second : limit.rlim_max;
                setrlimit(RLIMIT_NOFILE, &limit);
            };
        listener_ = std::make_unique<ListenerProcess>(program_, environment_, inChild);
        ASSERT_TRUE(listener_->Listening()) << listener_->Log().toStdString();
        port_ = listener_->Port();
    }

    bool WaitForLog(const QString& text, int timeoutMs, int count = 1) {
        return listener_->WaitForLog(text, timeoutMs, count);
    }

    // Modems of the simulator calling the listener: --fleet n from KV0001, with args.
    std::unique_ptr<SimProcess> Modems(int n, const QStringList& args = {}) {
        auto sim = std::make_unique<SimProcess>(
            QStringList{QStringLiteral("--dialin"), QStringLiteral("127.0.0.1:%1").arg(port_),
                        QStringLiteral("--registration"), QStringLiteral("KV0001"),
                        QStringLiteral("--fleet"), QString::number(n), QStringLiteral("--redial"),
                        QStringLiteral("0.2")} +
            args);
        EXPECT_TRUE(sim->Running());
        EXPECT_TRUE(WaitForLog(QStringLiteral("на связи"), 10000,
                               listener_->Count(QStringLiteral("на связи")) + n))
            << listener_->Log().toStdString();
        return sim;
    }

    ProgramRun Run(const QStringList& arguments) {
        return RunProgram(arguments, environment_, program_, home_.path());
    }

    // A caller that is not the simulator (what a scan or a stranger sends), connected.
    std::unique_ptr<QTcpSocket> Caller() const {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QStringLiteral("127.0.0.1"), port_);
        EXPECT_TRUE(socket->waitForConnected(2000));
        return socket;
    }
    // Whether the listener closes the call within timeoutMs.
    static bool Closed(QTcpSocket& socket, int timeoutMs = 2000) {
        return socket.waitForDisconnected(timeoutMs) ||
               socket.state() == QAbstractSocket::UnconnectedState;
    }

    int KeptFiles() const {
        int n = 0;
        const QDir archives(home_.filePath(QStringLiteral("kv9000/archives")));
        for (const QString& serial : archives.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            n += static_cast<int>(QDir(archives.filePath(serial)).entryList(QDir::Files).size());
        return n;
    }

    QTemporaryDir home_;
    QProcessEnvironment environment_;
    QString program_;
    std::unique_ptr<ListenerProcess> listener_;
    unsigned short port_ = 0;
};

TEST_F(ListenerTest, ControllersThatCalledAreCollectedAndReadOthersAreNotOnTheLine) {
    const QString list =
        WriteFleet({QStringLiteral("KV0001"), QStringLiteral("KV0002"), QStringLiteral("KV0003")});
    StartListener(QStringLiteral("Collect after=-1\n[Ports]\nCOM7=DIALIN:KV0002\n"));
    const auto modems = Modems(2, {QStringLiteral("--at"), QStringLiteral("2026-11-01")});

    const ProgramRun collect = Run({QStringLiteral("--collect"), list});
    EXPECT_EQ(collect.exitCode, 1) << collect.err.toStdString();
    EXPECT_TRUE(collect.out.contains(
        QStringLiteral("dialin:KV0003\t\tfailed: dialin:KV0003: регулятор не на связи "
                       "(последний звонок: не звонил)")))
        << collect.out.toStdString();
    EXPECT_EQ(collect.out.count(QStringLiteral("\twhole\t8448\t")), 2) << collect.out.toStdString();

    // The kept file names the port with the address the modem called from; only new records
    // the next time.
    const ProgramRun read =
        Run({QStringLiteral("--read"), QStringLiteral("dialin:KV0001"), QStringLiteral("--new")});
    EXPECT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_TRUE(read.err.contains(QStringLiteral("dialin:KV0001: прочитано")));
    QFile kept(read.out.trimmed());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_TRUE(kept.readAll().contains("dialin:KV0001 (127.0.0.1:"));

    // A number of the settings that names a modem: the number, the modem and its address.
    const ProgramRun numbered =
        Run({QStringLiteral("--read"), QStringLiteral("COM7"), QStringLiteral("--new")});
    EXPECT_EQ(numbered.exitCode, 0) << numbered.err.toStdString();
    QFile keptNumbered(numbered.out.trimmed());
    ASSERT_TRUE(keptNumbered.open(QIODevice::ReadOnly));
    EXPECT_TRUE(keptNumbered.readAll().contains("COM7 (dialin:KV0002, 127.0.0.1:"));

    const ProgramRun away = Run({QStringLiteral("--read"), QStringLiteral("dialin:KV0003")});
    EXPECT_EQ(away.exitCode, 1);
    EXPECT_TRUE(away.err.contains(QStringLiteral("регулятор не на связи")))
        << away.err.toStdString();
    const ProgramRun unknown = Run({QStringLiteral("--read"), QStringLiteral("dialin:KV0099")});
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("нет в списке регуляторов")))
        << unknown.err.toStdString();
}

TEST_F(ListenerTest, HeartbeatsInsideAnswersAndARegistrationBeforeEveryPacketAreTakenOff) {
    WriteFleet({QStringLiteral("KV0001")});
    // The same controller also behind a plain TCP port, to compare the images.
    int tcpPort = 0;
    // One dated history for both (the demo's archive ends at the moment its simulator starts).
    const QStringList at{QStringLiteral("--at"), QStringLiteral("2026-11-01")};
    const auto plain = StartSimFleet(1, at, tcpPort);
    ASSERT_TRUE(plain->Running());
    StartListener(QStringLiteral("Heartbeat=hex:4B564842\nHeartbeat interval=1\n"
                                 "Registration every packet=1\nCollect after=-1\n"
                                 "[Ports]\nCOM9=tcp://127.0.0.1:%1\n")
                      .arg(tcpPort));
    const auto modem =
        Modems(1, at + QStringList{QStringLiteral("--heartbeat"), QStringLiteral("0.05"),
                                   QStringLiteral("--heartbeat-inside"),
                                   QStringLiteral("--registration-every-packet"),
                                   QStringLiteral("--packet-bytes"), QStringLiteral("16")});
    // Every answer comes in pieces, each named, with a heartbeat in its middle: the whole
    // archive read through the call is the one read through the plain port.
    const ProgramRun called = Run({QStringLiteral("--read"), QStringLiteral("dialin:KV0001")});
    ASSERT_EQ(called.exitCode, 0) << called.err.toStdString();
    const ProgramRun direct = Run({QStringLiteral("--read"), QStringLiteral("COM9")});
    ASSERT_EQ(direct.exitCode, 0) << direct.err.toStdString();
    QByteArray images[2];
    for (int i = 0; i < 2; ++i) {
        const QString image = home_.filePath(QStringLiteral("image%1.bin").arg(i));
        ASSERT_EQ(Run({QStringLiteral("--image"), (i ? direct : called).out.trimmed(),
                       QStringLiteral("-o"), image})
                      .exitCode,
                  0);
        QFile file(image);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        images[i] = file.readAll();
    }
    ASSERT_EQ(images[0].size(), 0x42000);
    ASSERT_EQ(images[1].size(), 0x42000);
    qsizetype first = -1;
    int differ = 0;
    for (qsizetype i = 0; i < images[0].size(); ++i)
        if (images[0][i] != images[1][i]) {
            first = first < 0 ? i : first;
            ++differ;
        }
    EXPECT_EQ(differ, 0) << "first at 0x" << std::hex << first;
}

TEST_F(ListenerTest, CallsFromTheNetworkAreHeldOnlyForTheFleetAndWithinLimits) {
    WriteFleet({QStringLiteral("KV0001")});
    StartListener(QStringLiteral("Collect after=-1\n"));
    // Eight calls that say nothing are held for a while; the ninth from that address at once
    // closed, and so is a call with a registration the fleet does not name.
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < 8; ++i)
        silent.push_back(Caller());
    const auto ninth = Caller();
    ninth->write("KV0001");
    ASSERT_TRUE(Closed(*ninth));
    EXPECT_TRUE(WaitForLog(QStringLiteral("уже 8 звонков без регистрации"), 2000))
        << listener_->Log().toStdString();
    silent.clear(); // room again

    // A registration nobody listed, and one longer than a registration can be.
    for (const QByteArray& sent : {QByteArray("XX0001"), QByteArray(65, 'K')}) {
        const auto stranger = Caller();
        stranger->write(sent);
        EXPECT_TRUE(Closed(*stranger)) << sent.toStdString();
    }

    // A call that names no modem within ten seconds is closed.
    const auto slow = Caller();
    slow->write("KV00");
    EXPECT_FALSE(slow->waitForDisconnected(8000));
    EXPECT_TRUE(Closed(*slow, 4000));
}

TEST_F(ListenerTest, AHexRegistrationIsItsBytesAndTheChannelIsTheUsersAlone) {
    WriteFleet({QStringLiteral("00FF01")});
    StartListener(QStringLiteral("Registration=hex\nCollect after=-1\n"));
    const auto modem = std::make_unique<SimProcess>(
        QStringList{QStringLiteral("--dialin"), QStringLiteral("127.0.0.1:%1").arg(port_),
                    QStringLiteral("--registration"), QStringLiteral("hex:00FF01")});
    ASSERT_TRUE(WaitForLog(QStringLiteral("модем 00FF01 на связи"), 10000))
        << listener_->Log().toStdString();
    EXPECT_EQ(Run({QStringLiteral("--read"), QStringLiteral("dialin:00FF01")}).exitCode, 0);
    EXPECT_EQ(QFile::permissions(home_.filePath(QStringLiteral("run/kv9000-dialin"))) &
                  (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
              QFileDevice::Permissions());
}

TEST_F(ListenerTest, WhereToListenAndWhoMayCallAreReadOrRefusedWithTheirCause) {
    WriteFleet({QStringLiteral("KV0001")});
    program_ = ProgramWithSettings(home_.filePath(QStringLiteral("bin")), {});
    for (const QString& where :
         {QStringLiteral("99999"), QStringLiteral("::1:5000"), QStringLiteral("host:5000")}) {
        const ProgramRun refused = Run({QStringLiteral("--listen"), where});
        EXPECT_EQ(refused.exitCode, 2) << where.toStdString() << refused.err.toStdString();
    }
    // A network the settings cannot read allows no call rather than every call.
    StartListener(QStringLiteral("Allow=127.0.0.0/8, 300.1.1.1/8\nCollect after=-1\n"));
    EXPECT_TRUE(listener_->Log().contains(QStringLiteral("[Dial-in] Allow=300.1.1.1/8")))
        << listener_->Log().toStdString();
    const auto modem = Caller();
    modem->write("KV0001");
    EXPECT_TRUE(Closed(*modem));
    EXPECT_TRUE(WaitForLog(QStringLiteral("не из разрешённых сетей"), 2000));
}

TEST_F(ListenerTest, CallsBeyondTheUsualLimitOfOpenFilesAreHeldOrClosedNeverLeftWaiting) {
    QStringList ids;
    for (int i = 1; i <= 100; ++i)
        ids << QStringLiteral("KV%1").arg(i, 4, 10, QLatin1Char('0'));
    WriteFleet(ids);
    // A soft limit of 64 under a higher hard one (as a login or a service starts with): the
    // listener raises its own and holds all 100.
    StartListener(QStringLiteral("Collect after=-1\n"), {64, 0});
    { const auto modems = Modems(100); }
    listener_.reset();
    // A hard limit of 100: it takes as many calls as leave room for its own files, says so, and
    // closes the calls beyond them.
    StartListener(QStringLiteral("Collect after=-1\n"), {100, 100});
    EXPECT_TRUE(listener_->Log().contains(QStringLiteral("не больше 36 звонков")))
        << listener_->Log().toStdString();
    SimProcess modems({QStringLiteral("--dialin"), QStringLiteral("127.0.0.1:%1").arg(port_),
                       QStringLiteral("--registration"), QStringLiteral("KV0001"),
                       QStringLiteral("--fleet"), QStringLiteral("50"), QStringLiteral("--redial"),
                       QStringLiteral("0.2")});
    EXPECT_TRUE(WaitForLog(QStringLiteral("на связи"), 10000, 36))
        << listener_->Log().toStdString();
    EXPECT_TRUE(WaitForLog(QStringLiteral("(Max calls=36)"), 5000))
        << listener_->Log().toStdString();
    EXPECT_EQ(listener_->Count(QStringLiteral("на связи")), 36);
}

TEST_F(ListenerTest, ARedialReplacesTheOldCallAndAVanishedModemIsNoticed) {
    WriteFleet({QStringLiteral("KV0001"), QStringLiteral("KV0002")});
    StartListener(QStringLiteral("Heartbeat=KVHB\nHeartbeat interval=1\nCollect after=-1\n"));
    const auto first = Modems(1, {QStringLiteral("--heartbeat"), QStringLiteral("0.5")});
    const auto second = Modems(2, {QStringLiteral("--heartbeat"), QStringLiteral("0.5")});
    EXPECT_TRUE(WaitForLog(QStringLiteral("позвонил снова"), 3000))
        << listener_->Log().toStdString();
    first->Stop();
    // The call that stays answers; once its modem stops (no close, no heartbeat), the listener
    // closes it within three heartbeat intervals and the controller is no longer on the line.
    // Two modems from one address that go silent together are each said.
    EXPECT_EQ(Run({QStringLiteral("--read"), QStringLiteral("dialin:KV0001")}).exitCode, 0);
    ::kill(static_cast<pid_t>(second->Pid()), SIGSTOP);
    EXPECT_TRUE(WaitForLog(QStringLiteral("молчит дольше трёх интервалов"), 4500, 2))
        << listener_->Log().toStdString();
    for (const QString& id : {QStringLiteral("KV0001"), QStringLiteral("KV0002")})
        EXPECT_TRUE(listener_->Log().contains(QStringLiteral("модем %1 молчит").arg(id)))
            << listener_->Log().toStdString();
    const ProgramRun away = Run({QStringLiteral("--read"), QStringLiteral("dialin:KV0001")});
    EXPECT_TRUE(away.err.contains(QStringLiteral("регулятор не на связи (последний звонок: ")))
        << away.err.toStdString();
    ::kill(static_cast<pid_t>(second->Pid()), SIGCONT);
}

TEST_F(ListenerTest, ASilentCallIsClosedWhenItsThreeIntervalsAreUpWhereverTheyEnd) {
    constexpr int kModems = 10;
    QStringList ids;
    for (int i = 1; i <= kModems; ++i)
        ids << QStringLiteral("KV%1").arg(i, 4, 10, QLatin1Char('0'));
    WriteFleet(ids);
    StartListener(QStringLiteral("Heartbeat=KVHB\nHeartbeat interval=1\nCollect after=-1\n"));
    std::vector<pollfd> calls;
    for (int i = 0; i < kModems; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in office = LoopbackAddress(port_);
        ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&office), sizeof office), 0);
        const QByteArray registration = ids[i].toLatin1();
        ASSERT_EQ(::send(fd, registration.constData(), registration.size(), 0),
                  registration.size());
        ASSERT_TRUE(WaitForLog(QStringLiteral("на связи"), 5000, i + 1))
            << listener_->Log().toStdString();
        calls.push_back(pollfd{fd, POLLIN, 0});
    }
    // Last heartbeats 25 ms apart: their three intervals end all over the listener's quarter
    // second between two looks, and each call is closed when its own are up.
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> last(kModems), closed(kModems, -1);
    for (int i = 0; i < kModems; ++i) {
        ASSERT_EQ(::send(calls[i].fd, "KVHB", 4, 0), 4);
        last[i] = clock.elapsed();
        QThread::msleep(25);
    }
    while (std::count(closed.begin(), closed.end(), -1) > 0 && clock.elapsed() < 6000) {
        ::poll(calls.data(), calls.size(), 5);
        char byte;
        for (int i = 0; i < kModems; ++i)
            if (closed[i] < 0 && calls[i].revents != 0 && ::recv(calls[i].fd, &byte, 1, 0) <= 0)
                closed[i] = clock.elapsed();
    }
    for (int i = 0; i < kModems; ++i) {
        EXPECT_GE(closed[i] - last[i], 2990) << i;
        EXPECT_LE(closed[i] - last[i], 3150) << i;
        ::close(calls[i].fd);
    }
}

TEST_F(ListenerTest, ACallDroppedMidReadKeepsNothingAndTheNextCallResumesByNewRecords) {
    WriteFleet({QStringLiteral("KV0001")});
    StartListener(QStringLiteral("Collect after=-1\n"));
    {
        const auto modem = Modems(1, {QStringLiteral("--at"), QStringLiteral("2026-11-01")});
        ASSERT_EQ(Run({QStringLiteral("--read"), QStringLiteral("dialin:KV0001")}).exitCode, 0);
    }
    ASSERT_EQ(KeptFiles(), 1);
    // A week later, on a slow line: the modem goes away in the middle of the read.
    auto modem = Modems(1, {QStringLiteral("--at"), QStringLiteral("2026-11-08"),
                            QStringLiteral("--baud"), QStringLiteral("115200")});
    QProcess read;
    read.setProcessEnvironment(environment_);
    read.start(program_, {QStringLiteral("--read"), QStringLiteral("dialin:KV0001"),
                          QStringLiteral("--new")});
    QThread::msleep(1500);
    modem->Kill();
    ASSERT_TRUE(read.waitForFinished(60000));
    EXPECT_NE(read.exitCode(), 0) << read.readAllStandardError().toStdString();
    EXPECT_EQ(KeptFiles(), 1);
    modem = Modems(1, {QStringLiteral("--at"), QStringLiteral("2026-11-08")});
    const ProgramRun again =
        Run({QStringLiteral("--read"), QStringLiteral("dialin:KV0001"), QStringLiteral("--new")});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_FALSE(again.err.contains(QStringLiteral("8 448 блоков из 8 448")))
        << again.err.toStdString();
    EXPECT_EQ(KeptFiles(), 2);
}

TEST_F(ListenerTest, AModemDueIsCollectedOnItsCallWithoutACommand) {
    WriteFleet({QStringLiteral("KV0001"), QStringLiteral("KV0002")});
    StartListener(QStringLiteral("Collect after=0\n"));
    const auto modems = Modems(2);
    EXPECT_TRUE(WaitForLog(QStringLiteral("сбор по звонку: dialin:KV000"), 30000, 2))
        << listener_->Log().toStdString();
    EXPECT_EQ(KeptFiles(), 2);
}

} // namespace
