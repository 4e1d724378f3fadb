// kv9000 --read through the real program against kv9000-sim over a pseudo-terminal: the file it
// keeps is the file a window download of the same controller keeps, it reaches the library and
// leaves the settings file as it was; each failure is one line and exit 1.

#include "ArchiveFile.h"
#include "ArchiveImageBuilder.h"
#include "ProgramRun.h"
#include "Ser2Net.h"
#include "ServiceSession.h"
#include "SimHistory.h"
#include "StatusPanels.h"
#include "WindowTestSupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSerialPort>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

#include <gtest/gtest.h>

namespace {

class ReadCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureWidgetApp();
        // The program beside the test bed's settings file, so that it reads that file.
        program_ = bed_.Path(QStringLiteral("kv9000"));
        ASSERT_TRUE(
            QFile::copy(qEnvironmentVariable("KV_BIN_DIR") + QStringLiteral("/kv9000"), program_));
    }

    // A simulator serving a known two-channel image, mapped to COM1.
    void StartSim(QStringList args = {}) {
        QFile image(bed_.Path(QStringLiteral("archive.bin")));
        ASSERT_TRUE(image.open(QIODevice::WriteOnly));
        image.write(testimage::FullImage(2));
        image.close();
        args << QStringLiteral("--channels") << QStringLiteral("2") << QStringLiteral("--image")
             << image.fileName();
        sim_ = bed_.StartSim(args);
        ASSERT_TRUE(sim_->Running());
        bed_.WriteSettings(QStringLiteral("[General]\nCOM port=1\n") +
                           WindowTestBed::PortsSection(
                               {{1, sim_->Device()}, {19, QStringLiteral("/nonexistent/tty")}}));
    }

    // The test bed's data folder is the program's (XDG_DATA_HOME points into it).
    ProgramRun Read(const QStringList& more = {}) {
        return RunProgram(QStringList{QStringLiteral("--read"), QStringLiteral("COM1")} + more,
                          ProgramEnvironment(), program_, bed_.Path(QString()));
    }

    void ExpectFailure(const ProgramRun& run, const QString& cause) {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, QString());
        EXPECT_EQ(run.err.count(u'\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("kv9000: ")) && run.err.contains(cause))
            << run.err.toStdString();
    }

    WindowTestBed bed_;
    QString program_;
    std::unique_ptr<SimProcess> sim_;
};

TEST_F(ReadCommandTest, ItKeepsTheFileAWindowDownloadKeepsAndIndexesIt) {
    StartSim();
    const QByteArray settings = bed_.ReadSettingsBytes();
    const ProgramRun read = Read();
    ASSERT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_EQ(read.err, QString()); // no progress into a pipe, nothing of Qt's
    ASSERT_TRUE(read.out.endsWith(u'\n'));
    const QString kept = read.out.chopped(1);
    EXPECT_TRUE(kept.startsWith(qEnvironmentVariable("XDG_DATA_HOME") +
                                QStringLiteral("/kv9000/archives/12345/")))
        << kept.toStdString();
    EXPECT_EQ(bed_.ReadSettingsBytes(), settings);

    const ProgramRun library =
        RunProgram({QStringLiteral("--library")}, ProgramEnvironment(), program_);
    EXPECT_EQ(library.exitCode, 0) << library.err.toStdString();
    EXPECT_TRUE(library.out.contains(QStringLiteral("\n12345\tКотельная\t2\t1\t")))
        << library.out.toStdString();

    auto form = bed_.OpenWindow();
    form->bt_DF_Read->click();
    form->WaitForArchiveSaves();
    const QString windowKept = form->Session().KeptPath();
    ASSERT_FALSE(windowKept.isEmpty());
    ASSERT_NE(windowKept, kept);
    form.reset();

    const ArchiveFileReadResult fromRead = ReadArchiveFile(kept);
    ASSERT_TRUE(fromRead.contents) << fromRead.error.toStdString();
    QFile windowFile(windowKept);
    ASSERT_TRUE(windowFile.open(QIODevice::ReadOnly));
    const QByteArray windowBytes = windowFile.readAll();
    const ArchiveFileReadResult fromWindow = DecodeArchiveFile(windowBytes);
    ASSERT_TRUE(fromWindow.contents);
    // Byte for byte the same file but for the moment of the download.
    ArchiveFileContents same = *fromRead.contents;
    EXPECT_LE(std::abs(same.downloadedAt.secsTo(fromWindow.contents->downloadedAt)), 600);
    same.downloadedAt = fromWindow.contents->downloadedAt;
    EXPECT_EQ(EncodeCompressedArchiveFile(same), windowBytes);
    EXPECT_EQ(same.image, testimage::FullImage(2));
}

// The same controller through a real device server, raw and as RFC 2217: the kept files are
// the pseudo-terminal's, but for the moment and the port, which names the box's address.
TEST_F(ReadCommandTest, APortOnTheNetworkKeepsWhatThePseudoTerminalKeeps) {
    StartSim();
    const ProgramRun direct = Read();
    ASSERT_EQ(direct.exitCode, 0) << direct.err.toStdString();
    const ArchiveFileReadResult expected = ReadArchiveFile(direct.out.chopped(1));
    ASSERT_TRUE(expected.contents);

    Ser2Net box({{sim_->Device(), Ser2Net::Mode::Raw}, {sim_->Device(), Ser2Net::Mode::Rfc2217}});
    ASSERT_TRUE(box.Running());
    bed_.WriteSettings(WindowTestBed::PortsSection({{5, box.Url(0)}, {6, box.Url(1)}}));
    for (const int port : {5, 6}) {
        const ProgramRun read =
            RunProgram({QStringLiteral("--read"), QStringLiteral("COM%1").arg(port)},
                       ProgramEnvironment(), program_, bed_.Path(QString()));
        ASSERT_EQ(read.exitCode, 0) << read.err.toStdString();
        EXPECT_EQ(read.err, QString());
        const ArchiveFileReadResult file = ReadArchiveFile(read.out.chopped(1));
        ASSERT_TRUE(file.contents) << file.error.toStdString();
        EXPECT_EQ(file.contents->port,
                  QStringLiteral("COM%1 (%2)").arg(port).arg(box.Url(port - 5)));
        ArchiveFileContents same = *file.contents;
        same.port = expected.contents->port;
        same.downloadedAt = expected.contents->downloadedAt;
        EXPECT_EQ(EncodeArchiveFile(same), EncodeArchiveFile(*expected.contents)) << port;
    }
}

// A controller downloaded whole, then revisited a month later: the window's "Прочитать новые
// записи" and --read --new each keep the controller's memory as it is, marked with the blocks
// read, and the visit report's and library's text is on standard error; --new without an
// earlier download of that controller reads the whole archive and says why.
TEST_F(ReadCommandTest, NewRecordsKeepTheControllersMemoryFromTheWindowAndTheCommandLine) {
    const auto serve = [this](const char* at, QStringList more = {}) {
        sim_ = bed_.StartSim(QStringList{"--at", at, "--serial", "777"} + more);
        ASSERT_TRUE(sim_->Running());
        bed_.WriteSettings(QStringLiteral("[General]\nCOM port=1\n") +
                           WindowTestBed::PortsSection({{1, sim_->Device()}}));
    };
    serve("2025-01-01");
    const ProgramRun first = Read({QStringLiteral("--new")});
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_TRUE(first.err.contains(QStringLiteral("читается весь архив: нет прежнего")))
        << first.err.toStdString();
    EXPECT_FALSE(ReadArchiveFile(first.out.chopped(1)).contents->blocksRead);

    serve("2025-01-31");
    const QByteArray memory =
        sim::HistoryArchiveAt(2, 777, QDateTime(QDate(2025, 1, 31), QTime(0, 0), Qt::UTC));
    auto form = bed_.OpenWindow();
    QAction* action = form->findChild<QAction*>(QStringLiteral("NewRecordsAction"));
    ASSERT_TRUE(action);
    action->trigger();
    form->WaitForArchiveSaves();
    EXPECT_TRUE(form->StatusBar->Notice().startsWith(QStringLiteral("Новые записи: прочитано")))
        << form->StatusBar->Notice().toStdString();
    const ArchiveFileReadResult window = ReadArchiveFile(form->Session().KeptPath());
    form.reset();
    ASSERT_TRUE(window.contents) << window.error.toStdString();
    EXPECT_TRUE(window.contents->image == memory);
    ASSERT_TRUE(window.contents->blocksRead);
    EXPECT_LT(*window.contents->blocksRead, 8448 / 2);

    const ProgramRun again = Read({QStringLiteral("--new")});
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.err.contains(QStringLiteral("блоков из 8 448")) ||
                again.err.contains(QStringLiteral("блока из 8 448")))
        << again.err.toStdString();
    const ArchiveFileReadResult line = ReadArchiveFile(again.out.chopped(1));
    ASSERT_TRUE(line.contents) << line.error.toStdString();
    EXPECT_TRUE(line.contents->image == memory);
    EXPECT_TRUE(line.contents->blocksRead);
    EXPECT_TRUE(line.compressed && window.compressed); // kept as every download is

    // A clock set back before the visit is a doubt: the window reads the whole archive and says
    // why.
    serve("2025-02-02", {QStringLiteral("--clock-back"), QStringLiteral("5")});
    form = bed_.OpenWindow();
    form->findChild<QAction*>(QStringLiteral("NewRecordsAction"))->trigger();
    form->WaitForArchiveSaves();
    EXPECT_TRUE(form->StatusBar->Notice().startsWith(QStringLiteral("Прочитан весь архив: ")))
        << form->StatusBar->Notice().toStdString();
    const ArchiveFileReadResult whole = ReadArchiveFile(form->Session().KeptPath());
    ASSERT_TRUE(whole.contents) << whole.error.toStdString();
    EXPECT_FALSE(whole.contents->blocksRead);
}

// An answer later than its time-out, through each kind of port: the kept image is the
// controller's, never shifted by a block from the late one on (and the serial number after the
// download is the controller's). Then a read of only the new records through the same fault.
TEST_F(ReadCommandTest, ALateAnswerThroughAnyPortNeverShiftsTheKeptImage) {
    // One late flash read in each of the three downloads (the simulator counts them over all).
    StartSim({QStringLiteral("--late"), QStringLiteral("300,8800,17300"),
              QStringLiteral("--late-ms"), QStringLiteral("840")});
    Ser2Net box({{sim_->Device(), Ser2Net::Mode::Raw}, {sim_->Device(), Ser2Net::Mode::Rfc2217}});
    ASSERT_TRUE(box.Running());
    bed_.WriteSettings(
        WindowTestBed::PortsSection({{1, sim_->Device()}, {5, box.Url(0)}, {6, box.Url(1)}}));
    for (const int port : {1, 5, 6}) {
        const ProgramRun read =
            RunProgram({QStringLiteral("--read"), QStringLiteral("COM%1").arg(port)},
                       ProgramEnvironment(), program_, bed_.Path(QString()));
        ASSERT_EQ(read.exitCode, 0) << port << read.err.toStdString();
        const ArchiveFileReadResult file = ReadArchiveFile(read.out.chopped(1));
        ASSERT_TRUE(file.contents) << file.error.toStdString();
        EXPECT_TRUE(file.contents->image == testimage::FullImage(2)) << port;
        EXPECT_EQ(file.contents->serial, std::optional<std::uint16_t>(12345)) << port;
    }

    const auto serve = [this](const char* at, QStringList more = {}) {
        sim_ = bed_.StartSim(QStringList{"--at", at, "--serial", "778"} + more);
        ASSERT_TRUE(sim_->Running());
        bed_.WriteSettings(WindowTestBed::PortsSection({{1, sim_->Device()}}));
    };
    serve("2025-03-01");
    ASSERT_EQ(Read({QStringLiteral("--new")}).exitCode, 0);
    serve("2025-03-20", {QStringLiteral("--late"), QStringLiteral("3"), QStringLiteral("--late-ms"),
                         QStringLiteral("260")});
    const ProgramRun again = Read({QStringLiteral("--new")});
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    const ArchiveFileReadResult fresh = ReadArchiveFile(again.out.chopped(1));
    ASSERT_TRUE(fresh.contents) << fresh.error.toStdString();
    EXPECT_TRUE(fresh.contents->blocksRead) << again.err.toStdString();
    EXPECT_TRUE(fresh.contents->image ==
                sim::HistoryArchiveAt(2, 778, QDateTime(QDate(2025, 3, 20), QTime(0, 0), Qt::UTC)));
}

TEST_F(ReadCommandTest, EachFailureIsOneLineNamingItsCause) {
    StartSim({QStringLiteral("--address"), QStringLiteral("5"), QStringLiteral("--drop"),
              QStringLiteral("1-21")});
    // The settings' address is 1: nobody answers there; --address 5 reaches the controller,
    // whose 21 unanswered flash reads end the download.
    ExpectFailure(Read(), QStringLiteral("COM1: регулятор не обнаружен (адрес 1)"));
    ExpectFailure(Read({QStringLiteral("--address"), QStringLiteral("5")}),
                  QStringLiteral("COM1: RX Error (ошибок передачи 0, ошибок приёма 21)"));

    // A port without its device is named before anything is opened.
    ExpectFailure(RunProgram({QStringLiteral("--read"), QStringLiteral("COM19")},
                             ProgramEnvironment(), program_),
                  QStringLiteral("COM19 (/nonexistent/tty): "));

    // The port held by another program.
    {
        QSerialPort holder(sim_->Device());
        ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
        ExpectFailure(Read({QStringLiteral("--address"), QStringLiteral("5")}),
                      QStringLiteral("COM1: порт не открывается"));
    }
    sim_.reset();

    // The cable pulled in the middle.
    StartSim({QStringLiteral("--die-after"), QStringLiteral("100")});
    ExpectFailure(Read(), QStringLiteral("COM1: порт пропал во время чтения"));

    // A download that cannot be kept: the archives folder's place is taken by a file.
    StartSim();
    const QString archives =
        qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/kv9000/archives");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(archives).absolutePath()));
    QFile blocker(archives);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ExpectFailure(Read(), QStringLiteral("архив не сохранён: "));
}

TEST_F(ReadCommandTest, TheKeptDownloadReachesTheTeamsServerQuietly) {
    const QString server = qEnvironmentVariable("KV_TEST_POSTGRES");
    if (server.isEmpty())
        GTEST_SKIP() << "no PostgreSQL for the tests (tools/test.sh starts one and sets "
                        "KV_TEST_POSTGRES)";
    const QString database =
        QStringLiteral("read_") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    {
        QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), database);
        admin.setConnectOptions(server + QStringLiteral(" dbname=postgres"));
        ASSERT_TRUE(admin.open());
        ASSERT_TRUE(QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE ") + database));
        admin.close();
    }
    StartSim();
    bed_.WriteSettings(bed_.ReadSettings() +
                       QStringLiteral("[Library]\nServer=%1 dbname=%2\n").arg(server, database));
    const ProgramRun read = Read();
    EXPECT_EQ(read.exitCode, 0) << read.err.toStdString();
    EXPECT_EQ(read.err, QString());
    int onServer = -1;
    {
        QSqlDatabase db = QSqlDatabase::database(database, false);
        db.setConnectOptions(server + QStringLiteral(" dbname=") + database);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("SELECT count(*) FROM kv_downloads")) && q.next())
            onServer = q.value(0).toInt();
        db.setConnectOptions(server + QStringLiteral(" dbname=postgres"));
        db.close();
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(database));
        db.close();
    }
    QSqlDatabase::removeDatabase(database);
    EXPECT_EQ(onServer, 1);
}

} // namespace
