// kv9000 --collect through the real program against a simulated fleet on TCP ports (kv9000-sim
// --tcp --fleet), as an office runs it every night: the first collection reads every controller
// whole, the next only what is new; an unreachable controller fails after its tries while the
// others are kept; another controller on a port is said; a second collection at once is refused.
// A list that is no list (a device, a pipe, a huge file, another encoding) is refused before
// anything is read; a full disk is said as such and leaves the last run's record whole.

#include "ArchiveFile.h"
#include "DeviceHold.h"
#include "FleetTable.h"
#include "FrameLink.h"
#include "ProgramRun.h"
#include "Ser2Net.h"
#include "SharedLineBox.h"
#include "SimArchive.h"
#include "SimHistory.h"
#include "SimProcess.h"
#include "TestQtApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int kFleet = 3;
const QString kHeader = QStringLiteral("port\tserial\toutcome\tblocks\tseconds\tfile");

class CollectCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtCoreApp(); // for a link of the test's own
        ASSERT_TRUE(home_.isValid());
        environment_ = ProgramEnvironment();
        for (const char* name : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME"})
            environment_.insert(QString::fromLatin1(name), home_.path());
    }

    void StartFleet(const QString& at, int serial = 500) {
        sim_.reset();
        sim_ = StartSimFleet(
            kFleet,
            {QStringLiteral("--serial"), QString::number(serial), QStringLiteral("--at"), at},
            port_);
        ASSERT_TRUE(sim_->Running());
    }

    QString Port(int i) const { return QStringLiteral("tcp://127.0.0.1:%1").arg(port_ + i); }

    QString WriteList(const QStringList& lines) {
        const QString path = home_.filePath(QStringLiteral("fleet.tsv"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(
            (QStringList{QStringLiteral("port\taddress\tname")} + lines).join(u'\n').toUtf8());
        return path;
    }

    QString FleetLines() const {
        QStringList lines;
        for (int i = 0; i < kFleet; ++i)
            lines << QStringLiteral("%1\t1\tКотельная %2").arg(Port(i)).arg(i);
        return lines.join(u'\n');
    }

    QString ProgramWithSettings(const QString& ini) {
        return ::ProgramWithSettings(home_.filePath(QStringLiteral("bin")), ini);
    }

    ProgramRun Run(const QStringList& arguments) {
        return RunProgram(arguments, environment_, {}, home_.path());
    }

    // Runs the program with folder on a small file system of its own (its files copied in) that
    // has freePages pages of 4 KB left, in a mount namespace of the program's own; afterwards
    // folder's fleet-last-run.tsv, as the run left it, is copied to folder + ".after". Exit code
    // -2 where no such file system can be made (only the superuser mounts one).
    // The holds of the ports read (ports/, files that come and go during the run) stay on a
    // disk with room: what is full is where the lock and the run's table are kept.
    ProgramRun RunOnFullDisk(const QString& folder, int freePages, const QStringList& arguments) {
#ifndef Q_OS_WIN
        if (::geteuid() == 0) {
            EXPECT_TRUE(QDir().mkpath(folder));
            const QString script = QStringLiteral(
                "rm -rf \"$0.all\" \"$0.after\" && cp -a \"$0\" \"$0.all\" && mount -t tmpfs -o "
                "size=256k none \"$0\" && "
                "cp -a \"$0.all/.\" \"$0\" && mkdir -p \"$0.ports\" \"$0/ports\" && "
                "mount --bind \"$0.ports\" \"$0/ports\" && "
                "head -c $((4096 * $1)) /dev/zero >\"$0/.spare\" && "
                "{ dd if=/dev/zero of=\"$0/.fill\" bs=4k 2>/dev/null; rm \"$0/.spare\"; } && "
                "shift && { \"$@\"; code=$?; cp \"$0/fleet-last-run.tsv\" \"$0.after\"; "
                "exit $code; }");
            ProgramRun run = RunProgram(
                QStringList{QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                            script, folder, QString::number(freePages),
                            qEnvironmentVariable("KV_BIN_DIR") + QStringLiteral("/kv9000")} +
                    arguments,
                environment_, QStringLiteral("unshare"), home_.path());
            if (run.err.contains(QStringLiteral("mount")) ||
                run.err.contains(QStringLiteral("unshare")))
                run.exitCode = -2;
            return run;
        }
#endif
        return {-2, {}, QStringLiteral("only the superuser mounts a small file system")};
    }

    // The table's rows after its header, each split into its six cells.
    static std::vector<QStringList> Rows(const ProgramRun& run) {
        QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
        EXPECT_EQ(lines.value(0), kHeader);
        std::vector<QStringList> rows;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            rows.push_back(lines[i].split(u'\t'));
            EXPECT_EQ(rows.back().size(), 6) << lines[i].toStdString();
        }
        return rows;
    }

    QTemporaryDir home_;
    QProcessEnvironment environment_;
    std::unique_ptr<SimProcess> sim_;
    int port_ = 0;
};

TEST_F(CollectCommandTest, WholeThenNewRecordsWithAnUnreachableControllerAndABadLine) {
    StartFleet(QStringLiteral("2024-03-01T10:00"));
    const QString dead = QStringLiteral("tcp://127.0.0.1:%1").arg(FreeTcpPort());
    const QString list = WriteList({FleetLines(), dead + QStringLiteral("\t1\tнет связи"),
                                    QStringLiteral("COM3\tпять\tплохой адрес")});
    const ProgramRun first =
        Run({QStringLiteral("--collect"), list, QStringLiteral("--jobs"), QStringLiteral("2")});
    EXPECT_EQ(first.exitCode, 1);
    EXPECT_TRUE(first.err.contains(QStringLiteral("строка 6: адрес «пять»")))
        << first.err.toStdString();
    const auto rows = Rows(first);
    ASSERT_EQ(rows.size(), 4u) << first.out.toStdString();
    // The failed one first: nothing of it was read.
    EXPECT_EQ(rows[0][0], dead);
    EXPECT_TRUE(rows[0][2].startsWith(QStringLiteral("failed: ") + dead))
        << rows[0][2].toStdString();
    EXPECT_EQ(rows[0][1], QString());
    for (int i = 1; i <= kFleet; ++i) {
        EXPECT_EQ(rows[i][2], QStringLiteral("whole"));
        EXPECT_EQ(rows[i][3], QStringLiteral("8448"));
        EXPECT_TRUE(QFile::exists(rows[i][5])) << rows[i][5].toStdString();
        EXPECT_TRUE(rows[i][5].contains(QStringLiteral("/archives/%1/").arg(rows[i][1])));
    }

    // A day later only the new records; every controller collected: exit 0.
    StartFleet(QStringLiteral("2024-03-02T10:00"));
    const ProgramRun second = Run({QStringLiteral("--collect"), WriteList({FleetLines()})});
    EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
    EXPECT_EQ(second.err, QString()); // no progress into a pipe
    for (const QStringList& row : Rows(second)) {
        EXPECT_EQ(row.value(2), QStringLiteral("new"));
        EXPECT_GT(row.value(3).toInt(), 0);
        EXPECT_LT(row.value(3).toInt(), 1000);
    }
    // The library knows each controller from its newest download.
    const ProgramRun due =
        Run({QStringLiteral("--due"), QStringLiteral("--at"), QStringLiteral("2024-03-02")});
    ASSERT_EQ(due.exitCode, 0) << due.err.toStdString();
    for (int i = 0; i < kFleet; ++i)
        EXPECT_TRUE(due.out.contains(QStringLiteral("\n%1\t").arg(500 + i)));
    EXPECT_TRUE(due.out.contains(QStringLiteral("2024-03-02 10:00:00")));

    // Other controllers on the same ports: kept under their own serial numbers, and said.
    StartFleet(QStringLiteral("2024-03-02T12:00"), 600);
    const ProgramRun third = Run({QStringLiteral("--collect"), WriteList({FleetLines()})});
    EXPECT_EQ(third.exitCode, 0) << third.err.toStdString();
    int said = 0;
    for (const QStringList& row : Rows(third)) {
        for (int i = 0; i < kFleet; ++i)
            if (row.value(0) == Port(i))
                said += row.value(2) ==
                        QStringLiteral("whole; прежде на порту был регулятор %1").arg(500 + i);
        EXPECT_TRUE(row.value(5).contains(QStringLiteral("/archives/%1/").arg(row.value(1))));
    }
    EXPECT_EQ(said, kFleet) << third.out.toStdString();
}

// Every controller answers one flash read later than its time-out: each kept image is that
// controller's memory, whole the first night and of new records the next, never shifted.
TEST_F(CollectCommandTest, ALateAnswerNeverShiftsAKeptImage) {
    const QStringList late{QStringLiteral("--late"), QStringLiteral("40"),
                           QStringLiteral("--late-ms"), QStringLiteral("840")};
    for (const QDateTime& at : {QDateTime(QDate(2024, 5, 1), QTime(10, 0), Qt::UTC),
                                QDateTime(QDate(2024, 5, 2), QTime(10, 0), Qt::UTC)}) {
        sim_.reset();
        sim_ = StartSimFleet(kFleet,
                             QStringList{QStringLiteral("--serial"), QStringLiteral("700"),
                                         QStringLiteral("--at"),
                                         at.toString(QStringLiteral("yyyy-MM-ddTHH:mm"))} +
                                 late,
                             port_);
        ASSERT_TRUE(sim_->Running());
        const ProgramRun run = Run({QStringLiteral("--collect"), WriteList({FleetLines()})});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        const auto rows = Rows(run);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(kFleet)) << run.out.toStdString();
        for (const QStringList& row : rows) {
            const ArchiveFileReadResult kept = ReadArchiveFile(row.value(5));
            ASSERT_TRUE(kept.contents) << row.join(u'\t').toStdString();
            EXPECT_TRUE(kept.contents->image == sim::HistoryArchiveAt(2, row.value(1).toUInt(), at))
                << row.join(u'\t').toStdString();
        }
    }
}

TEST_F(CollectCommandTest, ASecondCollectionOrABadListIsRefusedAndReadsNothing) {
    QFile file(home_.filePath(QStringLiteral("comma.tsv")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("port,address,name\ntcp://127.0.0.1:1,1,x\n");
    file.close();
    const ProgramRun refused = Run({QStringLiteral("--collect"), file.fileName()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, QString());
    EXPECT_TRUE(refused.err.contains(QStringLiteral("строка 1 «port,address,name»")))
        << refused.err.toStdString();

    // Another collection holds the machine's lock.
    ASSERT_TRUE(QDir().mkpath(home_.filePath(QStringLiteral("kv9000"))));
    QLockFile running(home_.filePath(QStringLiteral("kv9000/collect.lock")));
    ASSERT_TRUE(running.tryLock(0));
    const ProgramRun second = Run({QStringLiteral("--collect"), WriteList({FleetLines()})});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_EQ(second.out, QString());
    EXPECT_TRUE(second.err.contains(QStringLiteral("сбор уже идёт"))) << second.err.toStdString();
    running.unlock();
}

// A path that names no list is a usage error, said in one line at once, whatever it would give
// when read (a device without end, a pipe nobody writes, a folder, a file larger than any list);
// a list that is not UTF-8 (saved as Windows-1251) is refused with its first such line, before
// its names are lost. Nothing is read and no run is kept.
TEST_F(CollectCommandTest, AListThatIsNoListOrNotUtf8IsRefusedInOneLineAndReadsNothing) {
    QStringList notLists{QStringLiteral("/dev/zero"), home_.path()};
#ifndef Q_OS_WIN
    const QString fifo = home_.filePath(QStringLiteral("fleet.fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    notLists << fifo;
#endif
    QFile large(home_.filePath(QStringLiteral("large.tsv")));
    ASSERT_TRUE(large.open(QIODevice::WriteOnly));
    large.write("port\taddress\tname\n");
    ASSERT_TRUE(large.resize(4 * 1024 * 1024 + 1));
    large.close();
    notLists << large.fileName();
    for (const QString& path : notLists) {
        const ProgramRun run = Run({QStringLiteral("--collect"), path});
        EXPECT_EQ(run.exitCode, 2) << path.toStdString();
        EXPECT_EQ(run.out, QString());
        EXPECT_EQ(run.err.count(u'\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(path)) << run.err.toStdString();
    }

    // Line 3 written in Windows-1251 ("Школа"): the list is refused with that line.
    QFile cp1251(home_.filePath(QStringLiteral("cp1251.tsv")));
    ASSERT_TRUE(cp1251.open(QIODevice::WriteOnly));
    cp1251.write("port\taddress\tname\n"
                 "tcp://127.0.0.1:1\t1\tКотельная\n"
                 "tcp://127.0.0.1:2\t1\t\xD8\xEA\xEE\xEB\xE0\n");
    cp1251.close();
    const ProgramRun refused = Run({QStringLiteral("--collect"), cp1251.fileName()});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.out, QString());
    EXPECT_EQ(refused.err.count(u'\n'), 1) << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains(QStringLiteral("строка 3 «tcp://127.0.0.1:2 1 ")))
        << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains(QStringLiteral("UTF-8"))) << refused.err.toStdString();
    EXPECT_FALSE(QFile::exists(home_.filePath(QStringLiteral("kv9000/fleet-last-run.tsv"))));
}

// On a nearly full disk the lock is written but the run's table does not fit: the last run kept
// stays whole and the run says it was not kept, naming the full disk. On a full one the lock
// itself cannot be written: that is no other collection running, but the full disk.
TEST_F(CollectCommandTest, AFullDiskKeepsTheLastRunWholeAndIsSaid) {
    const QString state = home_.filePath(QStringLiteral("state"));
    environment_.insert(QStringLiteral("XDG_STATE_HOME"), state);
    const QString folder = state + QStringLiteral("/kv9000");
    const QString kept = folder + QStringLiteral("/fleet-last-run.tsv");
    StartFleet(QStringLiteral("2024-03-01T10:00"));
    const QString list = WriteList({FleetLines()});
    ASSERT_EQ(Run({QStringLiteral("--collect"), list}).exitCode, 0);
    QFile before(kept);
    ASSERT_TRUE(before.open(QIODevice::ReadOnly));
    const QByteArray table = before.readAll();
    before.close();
    ASSERT_TRUE(table.contains("whole"));

    StartFleet(QStringLiteral("2024-03-02T10:00"));
    const ProgramRun nearlyFull = RunOnFullDisk(folder, 1, {QStringLiteral("--collect"), list});
    if (nearlyFull.exitCode == -2)
        GTEST_SKIP() << "no small file system here: " << nearlyFull.err.toStdString();
    EXPECT_EQ(nearlyFull.exitCode, 0) << nearlyFull.err.toStdString();
    EXPECT_EQ(Rows(nearlyFull).size(), static_cast<std::size_t>(kFleet));
    EXPECT_TRUE(nearlyFull.err.contains(QStringLiteral("итог сбора не сохранён: ") + kept +
                                        QStringLiteral(": диск заполнен")))
        << nearlyFull.err.toStdString();
    QFile after(folder + QStringLiteral(".after"));
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), table);

    const ProgramRun full = RunOnFullDisk(folder, 0, {QStringLiteral("--collect"), list});
    EXPECT_EQ(full.exitCode, 1);
    EXPECT_EQ(full.out, QString());
    EXPECT_EQ(full.err.count(u'\n'), 1) << full.err.toStdString();
    EXPECT_TRUE(full.err.contains(QStringLiteral("сбор не начат"))) << full.err.toStdString();
    EXPECT_TRUE(full.err.contains(QStringLiteral("диск заполнен"))) << full.err.toStdString();
}

// A collector killed mid-run keeps nothing of the reads it was doing and leaves its lock to the
// next run, which completes.
TEST_F(CollectCommandTest, ACollectorKilledMidRunLeavesNoHalfFileAndTheNextRunCompletes) {
    sim_ = StartSimFleet(kFleet, {QStringLiteral("--baud"), QStringLiteral("115200")}, port_);
    ASSERT_TRUE(sim_->Running());
    QProcess killed;
    killed.setProcessEnvironment(environment_);
    killed.start(qEnvironmentVariable("KV_BIN_DIR") + QStringLiteral("/kv9000"),
                 {QStringLiteral("--collect"), WriteList({FleetLines()})});
    ASSERT_TRUE(killed.waitForStarted());
    QThread::msleep(2000); // every controller's whole read under way (36 s each at this speed)
    killed.kill();
    killed.waitForFinished();
    const QString archives = home_.filePath(QStringLiteral("kv9000/archives"));
    EXPECT_FALSE(QDirIterator(archives, QDir::Files, QDirIterator::Subdirectories).hasNext());

    StartFleet(QStringLiteral("2024-03-01T10:00"));
    const ProgramRun next = Run({QStringLiteral("--collect"), WriteList({FleetLines()})});
    EXPECT_EQ(next.exitCode, 0) << next.err.toStdString();
    EXPECT_EQ(Rows(next).size(), static_cast<std::size_t>(kFleet));
}

// One box written two ways in the list (and resolved to one address) is one device: the
// collection reads it once at a time, so that a box that lets two connections in never gives
// two readers each other's answers. Both reads are kept whole and true.
TEST_F(CollectCommandTest, OneBoxWrittenTwoWaysInTheListIsReadOnceAtATime) {
    const QByteArray image = sim::GenerateArchive(1, 61);
    const QString imagePath = home_.filePath(QStringLiteral("served.bin"));
    QFile served(imagePath);
    ASSERT_TRUE(served.open(QIODevice::WriteOnly) && served.write(image) == image.size());
    served.close();
    sim_ = StartSimFleet(
        1,
        {QStringLiteral("--channels"), QStringLiteral("1"), QStringLiteral("--image"), imagePath},
        port_);
    ASSERT_TRUE(sim_->Running());
    SharedLineBox box(static_cast<unsigned short>(port_));
    const ProgramRun run =
        Run({QStringLiteral("--collect"),
             WriteList({QStringLiteral("tcp://127.0.0.1:%1\t1\tА").arg(box.Port()),
                        QStringLiteral("TCP://localhost:%1\t1\tБ").arg(box.Port())}),
             QStringLiteral("--jobs"), QStringLiteral("2")});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(box.MostClients(), 1);
    const auto rows = Rows(run);
    ASSERT_EQ(rows.size(), 2u) << run.out.toStdString();
    for (const QStringList& row : rows) {
        const ArchiveFileReadResult kept = ReadArchiveFile(row.value(5));
        ASSERT_TRUE(kept.contents) << row.join(u'\t').toStdString();
        EXPECT_TRUE(kept.contents->image == image) << row.join(u'\t').toStdString();
    }
}

// A box another program of this machine reads is busy: --read says so at once ("порт занят",
// with the holder), a collection says so for its controller, and both read it once it is free.
// With it, the settings' faults are said: a refused entry's number is unusable with its cause
// (never one of the machine's serial devices), and an address that does not fit a byte is said.
TEST_F(CollectCommandTest, ABusyBoxARefusedPortAndABadAddressAreSaid) {
    StartFleet(QStringLiteral("2024-03-01T10:00"));
    const QString program = ProgramWithSettings(
        QStringLiteral("[General]\nDevice address=257\n[Ports]\nCOM5=TCP://localhost:%1\n"
                       "COM2=tcp://127.0.0.1:0\n")
            .arg(port_));
    PortMap holderPorts;
    holderPorts.SetHoldFolder(home_.filePath(QStringLiteral("kv9000/ports")));
    FrameLink holder(holderPorts);
    ASSERT_TRUE(holder.Open(PortOfDevice(Port(0)), 115200));

    QElapsedTimer clock;
    clock.start();
    const ProgramRun busy = RunProgram({QStringLiteral("--read"), QStringLiteral("COM5")},
                                       environment_, program, home_.path());
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(busy.err.contains(
        QStringLiteral("kv9000: COM5: порт занят: это устройство уже читает процесс %1")
            .arg(QCoreApplication::applicationPid())))
        << busy.err.toStdString();
    EXPECT_FALSE(busy.err.contains(QStringLiteral("не обнаружен"))) << busy.err.toStdString();

    const ProgramRun collected =
        RunProgram({QStringLiteral("--collect"),
                    WriteList({QStringLiteral("tcp://localhost:%1\t1\tзанят").arg(port_),
                               QStringLiteral("COM2\t1\tне принят")})},
                   environment_, program, home_.path());
    EXPECT_EQ(collected.exitCode, 1);
    const auto rows = Rows(collected);
    ASSERT_EQ(rows.size(), 2u) << collected.out.toStdString();
    const QString failures = rows[0].value(2) + u'\n' + rows[1].value(2);
    EXPECT_TRUE(failures.contains(
        QStringLiteral("failed: tcp://localhost:%1: порт занят: это устройство уже читает")
            .arg(port_)))
        << failures.toStdString();
    EXPECT_TRUE(failures.contains(QStringLiteral(
        "failed: COM2: запись [Ports] COM2=tcp://127.0.0.1:0 не принята: номер порта «0»")))
        << failures.toStdString();

    holder.CloseCOM();
    const ProgramRun read = RunProgram({QStringLiteral("--read"), QStringLiteral("COM5")},
                                       environment_, program, home_.path());
    EXPECT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_TRUE(read.err.contains(QStringLiteral("[General] Device address=257: не от 0 до 255; "
                                                 "используется адрес 1")))
        << read.err.toStdString();
    // One port has one name in every kept file, whichever path read it and however the user
    // spelled it: the number with the box it names.
    const ProgramRun again =
        RunProgram({QStringLiteral("--read"), QStringLiteral("com5"), QStringLiteral("--new")},
                   environment_, program, home_.path());
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    const ProgramRun listed =
        RunProgram({QStringLiteral("--collect"), WriteList({QStringLiteral("com5\t1\tкотельная")})},
                   environment_, program, home_.path());
    ASSERT_EQ(Rows(listed).size(), 1u) << listed.out.toStdString();
    for (const QString& path :
         {read.out.trimmed(), again.out.trimmed(), Rows(listed)[0].value(5)}) {
        const ArchiveFileReadResult kept = ReadArchiveFile(path);
        ASSERT_TRUE(kept.contents) << path.toStdString();
        EXPECT_EQ(kept.contents->port, QStringLiteral("COM5 (tcp://localhost:%1)").arg(port_));
    }

    const ProgramRun refused = RunProgram({QStringLiteral("--read"), QStringLiteral("COM2")},
                                          environment_, program, home_.path());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.endsWith(
        QStringLiteral("kv9000: COM2: запись [Ports] COM2=tcp://127.0.0.1:0 не принята: номер "
                       "порта «0» не от 1 до 65535\n")))
        << refused.err.toStdString();
    // The port doctor names the refusal and gives the number no device.
    const ProgramRun diagnosis =
        RunProgram({QStringLiteral("--diagnose")}, environment_, program, home_.path());
    EXPECT_EQ(diagnosis.exitCode, 0) << diagnosis.err.toStdString();
    EXPECT_TRUE(diagnosis.out.contains(QStringLiteral("[Ports] COM2=tcp://127.0.0.1:0")))
        << diagnosis.out.toStdString();
    EXPECT_FALSE(diagnosis.out.contains(QStringLiteral("\nCOM2  ")) ||
                 diagnosis.out.startsWith(QStringLiteral("COM2  ")))
        << diagnosis.out.toStdString();
}

// --read of a box a collection is reading (another process, the same box written another way)
// is told the port is busy at once, naming the collector, and reads nothing.
TEST_F(CollectCommandTest, ReadingABoxACollectionReadsIsToldBusy) {
    // Paced as a line of 115200 bit/s: the collection's whole read lasts half a minute.
    sim_ = StartSimFleet(1, {QStringLiteral("--baud"), QStringLiteral("115200")}, port_);
    ASSERT_TRUE(sim_->Running());
    const QString program =
        ProgramWithSettings(QStringLiteral("[Ports]\nCOM5=TCP://localhost:%1\n").arg(port_));
    QProcess collector;
    collector.setProcessEnvironment(environment_);
    collector.start(program, {QStringLiteral("--collect"),
                              WriteList({QStringLiteral("%1\t1\tК").arg(Port(0))})});
    ASSERT_TRUE(collector.waitForStarted());
    const QString lock =
        home_.filePath(QStringLiteral("kv9000/ports/port-loopback-%1.lock").arg(port_));
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(lock) && clock.elapsed() < 10000)
        QThread::msleep(20);
    ASSERT_TRUE(QFile::exists(lock));

    const ProgramRun read = RunProgram({QStringLiteral("--read"), QStringLiteral("COM5")},
                                       environment_, program, home_.path());
    EXPECT_EQ(read.exitCode, 1);
    EXPECT_EQ(read.out, QString());
    EXPECT_TRUE(read.err.contains(
        QStringLiteral("kv9000: COM5: порт занят: это устройство уже читает процесс %1 (kv9000)")
            .arg(collector.processId())))
        << read.err.toStdString();
    collector.kill();
    collector.waitForFinished();
    // The lock of a collector killed midway is left behind, and held by nobody.
    ASSERT_TRUE(QFile::exists(lock));
    DeviceHold hold(home_.filePath(QStringLiteral("kv9000/ports")));
    EXPECT_TRUE(hold.Take({QStringLiteral("loopback-%1").arg(port_)}))
        << hold.Refusal().toStdString();
}

} // namespace
