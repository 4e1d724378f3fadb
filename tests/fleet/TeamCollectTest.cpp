// Several collectors sharing one run on the team's server: the real program against a simulated
// fleet and the real PostgreSQL tools/test.sh starts (KV_TEST_POSTGRES), each test in a database
// of its own. The office stores its list there and reads it back; three collectors share a run,
// one killed midway, and every controller is kept exactly once between them; a server lost
// midway leaves the collection kept on the collector's machine. A server restarted or stalled
// midway runs on a cluster of the test's own (tools/test-postgres.sh), so that other tests
// sharing the run's server never see it.

#include "ArchiveFile.h"
#include "ListenerProcess.h"
#include "ProgramRun.h"
#include "SimProcess.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

#include <csignal>
#include <iostream>
#include <memory>

namespace {

constexpr int kFleet = 12;
constexpr int kFirstSerial = 700;

class TeamCollectTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (base_.isEmpty())
            base_ = qEnvironmentVariable("KV_TEST_POSTGRES");
        const QString server = base_;
        if (server.isEmpty())
            GTEST_SKIP() << "no PostgreSQL for the tests (tools/test.sh starts one and sets "
                            "KV_TEST_POSTGRES)";
        ASSERT_TRUE(dir_.isValid());
        database_ = QStringLiteral("fleet_") + QUuid::createUuid().toString(QUuid::Id128).left(12);
        {
            QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), database_);
            admin.setConnectOptions(server + QStringLiteral(" dbname=postgres"));
            ASSERT_TRUE(admin.open()) << admin.lastError().text().toStdString();
            ASSERT_TRUE(QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE ") + database_));
            admin.close();
            admin.setConnectOptions(server + QStringLiteral(" dbname=") + database_);
            ASSERT_TRUE(admin.open());
        }
        server_ = server + QStringLiteral(" dbname=") + database_;
        // One program for every collector, its settings beside it; each collector its own data.
        program_ = dir_.filePath(QStringLiteral("bin/kv9000"));
        ASSERT_TRUE(QDir().mkpath(dir_.filePath(QStringLiteral("bin"))));
        ASSERT_TRUE(
            QFile::copy(qEnvironmentVariable("KV_BIN_DIR") + QStringLiteral("/kv9000"), program_));
        WriteSettings(server_);
    }

    void TearDown() override {
        if (!QSqlDatabase::contains(database_))
            return;
        {
            QSqlDatabase admin = QSqlDatabase::database(database_, false);
            admin.close();
            admin.setConnectOptions(base_ + QStringLiteral(" dbname=postgres"));
            if (admin.open())
                QSqlQuery(admin).exec(
                    QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(database_));
        }
        QSqlDatabase::removeDatabase(database_);
    }

    void WriteSettings(const QString& server, int leaseSeconds = 3) {
        QFile ini(dir_.filePath(QStringLiteral("bin/kv9000.INI")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(QStringLiteral("[Library]\r\nServer=%1\r\nFleet lease=%2\r\n")
                      .arg(server)
                      .arg(leaseSeconds)
                      .toUtf8());
    }

    QProcessEnvironment Collector(const QString& name) const {
        QProcessEnvironment environment = ProgramEnvironment();
        for (const char* variable : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME"})
            environment.insert(QString::fromLatin1(variable), dir_.filePath(name));
        return environment;
    }

    ProgramRun Run(const QStringList& arguments, const QString& collector = QStringLiteral("a")) {
        return RunProgram(arguments, Collector(collector), program_, dir_.path());
    }

    // The first value the statement gives, or -1.
    qint64 Number(const QString& sql) {
        QSqlQuery q(QSqlDatabase::database(database_, false));
        EXPECT_TRUE(q.exec(sql)) << q.lastError().text().toStdString() << sql.toStdString();
        return q.next() ? q.value(0).toLongLong() : -1;
    }

    QString WriteList(const QString& text) {
        const QString path = dir_.filePath(QStringLiteral("fleet.tsv"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
        return path;
    }

    // n simulated controllers, paced so that a whole read lasts a few seconds (long enough to
    // kill a collector or cut the server midway), their list on the server.
    void PushFleet(int n) {
        sim_ = StartSimFleet(n,
                             {QStringLiteral("--serial"), QString::number(kFirstSerial),
                              QStringLiteral("--at"), QStringLiteral("2024-03-01"),
                              QStringLiteral("--baud"), QStringLiteral("1000000")},
                             firstPort_);
        ASSERT_TRUE(sim_->Running());
        QString list = QStringLiteral("port\taddress\tname\n");
        for (int i = 0; i < n; ++i)
            list +=
                QStringLiteral("tcp://127.0.0.1:%1\t1\tКотельная %2\n").arg(firstPort_ + i).arg(i);
        const ProgramRun push = Run({QStringLiteral("--fleet-push"), WriteList(list)});
        ASSERT_EQ(push.exitCode, 0) << push.err.toStdString();
    }

    // The serial number of each file kept in a collector's folder, the collector's name each
    // time; a file that does not read whole counts as serial 0.
    QMap<int, QStringList> KeptSerials(const QString& collector) const {
        QMap<int, QStringList> kept;
        QDirIterator it(dir_.filePath(collector), {QStringLiteral("*.kvarc")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            const ArchiveFileReadResult read =
                DecodeArchiveFile(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
            kept[read.contents && read.contents->serial ? int(*read.contents->serial) : 0]
                << collector;
        }
        return kept;
    }

    // Runs sql in the cluster's own database (what cannot be done in the test's).
    bool OnCluster(const QString& sql) {
        bool done = false;
        const QString name = database_ + QStringLiteral("_cluster");
        {
            QSqlDatabase cluster = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            cluster.setConnectOptions(base_ + QStringLiteral(" dbname=postgres"));
            done = cluster.open() && QSqlQuery(cluster).exec(sql);
            EXPECT_TRUE(done) << cluster.lastError().text().toStdString() << sql.toStdString();
            cluster.close();
        }
        QSqlDatabase::removeDatabase(name);
        return done;
    }

    // The test's own connection again, after the server was restarted under it.
    void ReconnectAdmin() {
        QSqlDatabase admin = QSqlDatabase::database(database_, false);
        admin.close();
        ASSERT_TRUE(admin.open()) << admin.lastError().text().toStdString();
    }

    // The collectors' tables: each port with the collectors that list it kept, by name.
    static void AddTable(QMap<QString, QStringList>& kept, const QString& table,
                         const QString& name) {
        const QStringList rows = table.split(u'\n', Qt::SkipEmptyParts);
        for (qsizetype r = 1; r < rows.size(); ++r)
            if (rows[r].section(u'\t', 2, 2) == QLatin1String("whole"))
                kept[rows[r].section(u'\t', 0, 0)] << name;
    }

    QString base_; // the cluster's connection string, without a database
    QTemporaryDir dir_;
    QString database_;
    QString server_;
    QString program_;
    std::unique_ptr<SimProcess> sim_;
    int firstPort_ = 0;
};

// The office's list on the server: stored and printed back in the file's form; a list with a
// bad line, another encoding or a device is not stored; no server or an unreachable one is one line
// and exit 1.
TEST_F(TeamCollectTest, TheListIsStoredOnTheServerAndPrintedBack) {
    const QString list = QStringLiteral("port\taddress\tname\n"
                                        "COM3\t1\tКотельная №3\n"
                                        "tcp://10.1.2.3:4001\t5\tШкола\n");
    const ProgramRun push = Run({QStringLiteral("--fleet-push"), WriteList(list)});
    ASSERT_EQ(push.exitCode, 0) << push.err.toStdString();
    const ProgramRun pull = Run({QStringLiteral("--fleet-pull")});
    EXPECT_EQ(pull.exitCode, 0) << pull.err.toStdString();
    EXPECT_EQ(pull.out, list);
    // The fleet's tables leave the schema's version as it was: programs that know no fleet
    // still sync with this server.
    EXPECT_EQ(Number(QStringLiteral("SELECT value::int FROM kv_meta WHERE key = 'schema_version'")),
              1);

    const ProgramRun bad = Run({QStringLiteral("--fleet-push"),
                                WriteList(QStringLiteral("port\taddress\tname\nCOM3\t300\tx\n"))});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("строка 2"))) << bad.err.toStdString();
    EXPECT_EQ(Run({QStringLiteral("--fleet-pull")}).out, list); // the stored one unchanged

    // A list saved as Windows-1251 would be stored with its names lost, a device is no list at
    // all: neither reaches the server.
    const QString cp1251 = WriteList({});
    QFile file(cp1251);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("port\taddress\tname\nCOM3\t1\t\xCA\xEE\xF2\xE5\xEB\n"); // "Котел"
    file.close();
    const ProgramRun encoding = Run({QStringLiteral("--fleet-push"), cp1251});
    EXPECT_EQ(encoding.exitCode, 1);
    EXPECT_EQ(encoding.err.count(u'\n'), 1) << encoding.err.toStdString();
    EXPECT_TRUE(encoding.err.contains(QStringLiteral("строка 2 «COM3 1 ")))
        << encoding.err.toStdString();
    const ProgramRun device = Run({QStringLiteral("--fleet-push"), QStringLiteral("/dev/zero")});
    EXPECT_EQ(device.exitCode, 2);
    EXPECT_EQ(device.err.count(u'\n'), 1) << device.err.toStdString();
    EXPECT_EQ(Run({QStringLiteral("--fleet-pull")}).out, list);

    struct Case {
        const char* what;
        QString server;
        QStringList arguments;
        const char* says;
    };
    const Case cases[] = {
        {"no server", QString(), {QStringLiteral("--fleet-pull")}, "сервер не задан"},
        {"no server",
         QString(),
         {QStringLiteral("--collect"), QStringLiteral("--team")},
         "сервер не задан"},
        {"unreachable",
         QStringLiteral("host=") + dir_.filePath(QStringLiteral("nowhere")),
         {QStringLiteral("--collect"), QStringLiteral("--jobs"), QStringLiteral("2"),
          QStringLiteral("--team")},
         "сервер недоступен"},
    };
    for (const Case& c : cases) {
        WriteSettings(c.server);
        const ProgramRun run = Run(c.arguments);
        EXPECT_EQ(run.exitCode, 1) << c.what;
        EXPECT_EQ(run.err.count(u'\n'), 1) << c.what << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(c.says))) << c.what << run.err.toStdString();
    }
}

// Three collectors share one run; one is killed while it reads. Its controller comes free when
// its lease ends and another reads it: every controller kept exactly once, the run finished.
TEST_F(TeamCollectTest, ThreeCollectorsKeepEveryControllerOnceThoughOneIsKilled) {
    PushFleet(kFleet);
    const QStringList names{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    std::vector<std::unique_ptr<QProcess>> collectors;
    for (const QString& name : names) {
        collectors.push_back(std::make_unique<QProcess>());
        collectors.back()->setProcessEnvironment(Collector(name));
        collectors.back()->start(program_, {QStringLiteral("--collect"), QStringLiteral("--team"),
                                            QStringLiteral("--jobs"), QStringLiteral("1")});
        ASSERT_TRUE(collectors.back()->waitForStarted());
    }
    // The victim ("c") has kept one controller and is reading its next one.
    const QString victim =
        QStringLiteral("'%") + QStringLiteral(" %1'").arg(collectors[2]->processId());
    bool midway = false;
    for (int i = 0; i < 600 && !midway; ++i) {
        midway = Number(QStringLiteral("SELECT count(*) FROM kv_fleet_claims WHERE collector "
                                       "LIKE %1 AND done_at IS NOT NULL")
                            .arg(victim)) >= 1 &&
                 Number(QStringLiteral("SELECT count(*) FROM kv_fleet_claims WHERE collector "
                                       "LIKE %1 AND done_at IS NULL")
                            .arg(victim)) == 1;
        if (!midway)
            QThread::msleep(50);
    }
    ASSERT_TRUE(midway) << "the third collector never read a second controller";
    QThread::msleep(800);
    const qint64 killedLine = Number(QStringLiteral("SELECT line FROM kv_fleet_claims WHERE "
                                                    "collector LIKE %1 AND done_at IS NULL")
                                         .arg(victim));
    ::kill(static_cast<pid_t>(collectors[2]->processId()), SIGKILL);
    ASSERT_TRUE(collectors[2]->waitForFinished(5000));

    // What each collector read: the killed one's kept files (it never synced), the others'
    // tables (their folders also hold what the sync fetched from the others).
    QMap<int, QStringList> kept = KeptSerials(names[2]);
    EXPECT_FALSE(kept.contains(0)) << "a half file";
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(collectors[i]->waitForFinished(120000)) << names[i].toStdString();
        EXPECT_EQ(collectors[i]->exitCode(), 0)
            << names[i].toStdString() << collectors[i]->readAllStandardError().toStdString();
        const QStringList rows = QString::fromUtf8(collectors[i]->readAllStandardOutput())
                                     .split(u'\n', Qt::SkipEmptyParts);
        for (qsizetype r = 1; r < rows.size(); ++r)
            kept[rows[r].section(u'\t', 1, 1).toInt()] << names[i];
    }
    for (int serial = kFirstSerial; serial < kFirstSerial + kFleet; ++serial)
        EXPECT_EQ(kept.value(serial).size(), 1)
            << serial << ": " << kept.value(serial).join(u' ').toStdString();
    EXPECT_EQ(Number(QStringLiteral("SELECT count(*) FROM kv_fleet_claims WHERE done_at IS NULL "
                                    "OR outcome <> 'whole'")),
              0);
    EXPECT_EQ(Number(QStringLiteral("SELECT count(*) FROM kv_fleet_claims WHERE line = %1 AND "
                                    "collector NOT LIKE %2")
                         .arg(killedLine)
                         .arg(victim)),
              1);
    EXPECT_EQ(
        Number(QStringLiteral("SELECT count(*) FROM kv_fleet_runs WHERE finished IS NOT NULL")), 1);
}

// Modems that call in, collected on their call by the listener while a collector of the team
// shares the run: each controller is read once, by whichever claims it first.
TEST_F(TeamCollectTest, AModemCollectedOnItsCallIsNotReadAgainByTheTeam) {
    const ProgramRun push = Run({QStringLiteral("--fleet-push"),
                                 WriteList(QStringLiteral("port\taddress\tname\n"
                                                          "dialin:KV0001\t1\tКотельная 1\n"
                                                          "dialin:KV0002\t1\tКотельная 2\n"))});
    ASSERT_EQ(push.exitCode, 0) << push.err.toStdString();
    QFile ini(dir_.filePath(QStringLiteral("bin/kv9000.INI")));
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("[Dial-in]\r\nCollect after=0\r\n");
    ini.close();
    // The listener and a collector on one machine (one user's runtime folder), each its data.
    QProcessEnvironment listening = Collector(QStringLiteral("a"));
    QProcessEnvironment collecting = Collector(QStringLiteral("b"));
    const QString run = dir_.filePath(QStringLiteral("run"));
    ASSERT_TRUE(QDir().mkpath(run));
    QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    listening.insert(QStringLiteral("XDG_RUNTIME_DIR"), run);
    collecting.insert(QStringLiteral("XDG_RUNTIME_DIR"), run);
    ListenerProcess listener(program_, listening);
    ASSERT_TRUE(listener.Listening()) << listener.Log().toStdString();
    ASSERT_TRUE(listener.WaitForLog(QStringLiteral("модемов в списке регуляторов: 2"), 90000));
    SimProcess modems({QStringLiteral("--dialin"), listener.Address(),
                       QStringLiteral("--registration"), QStringLiteral("KV0001"),
                       QStringLiteral("--fleet"), QStringLiteral("2"), QStringLiteral("--redial"),
                       QStringLiteral("0.2"), QStringLiteral("--serial"),
                       QString::number(kFirstSerial)});
    ASSERT_TRUE(modems.Running());
    ASSERT_TRUE(listener.WaitForLog(QStringLiteral("сбор по звонку: dialin:KV000"), 30000, 2))
        << listener.Log().toStdString();
    // The team's collector finds both read in the run: it reads neither.
    const ProgramRun team =
        RunProgram({QStringLiteral("--collect"), QStringLiteral("--team")}, collecting, program_);
    EXPECT_EQ(team.exitCode, 0) << team.err.toStdString() << team.out.toStdString();
    EXPECT_FALSE(team.out.contains(QStringLiteral("whole"))) << team.out.toStdString();
    EXPECT_EQ(Number(QStringLiteral("SELECT count(*) FROM kv_fleet_claims WHERE done_at IS "
                                    "NOT NULL")),
              2);
    EXPECT_EQ(KeptSerials(QStringLiteral("a")).size() + KeptSerials(QStringLiteral("b")).size(), 2);
}

// The server lost midway: the collector reads what it has claimed, keeps it here, says so and
// ends with 1; the next sync sends what it kept.
TEST_F(TeamCollectTest, AServerLostMidwayLeavesTheCollectionKeptHere) {
    PushFleet(4);
    QProcess collector;
    collector.setProcessEnvironment(Collector(QStringLiteral("a")));
    collector.start(program_, {QStringLiteral("--collect"), QStringLiteral("--team"),
                               QStringLiteral("--jobs"), QStringLiteral("2")});
    ASSERT_TRUE(collector.waitForStarted());
    bool reading = false;
    for (int i = 0; i < 600 && !reading; ++i) {
        reading = Number(QStringLiteral("SELECT count(*) FROM kv_fleet_claims WHERE collector "
                                        "IS NOT NULL")) == 2;
        if (!reading)
            QThread::msleep(50);
    }
    ASSERT_TRUE(reading);
    // Gone for good: the collector's connection ended and no new one let in (a collector tries
    // again and goes on with a server that comes back).
    ASSERT_TRUE(
        OnCluster(QStringLiteral("ALTER DATABASE %1 WITH ALLOW_CONNECTIONS false").arg(database_)));
    Number(QStringLiteral("SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                          "WHERE datname = current_database() AND pid <> pg_backend_pid()"));
    ASSERT_TRUE(collector.waitForFinished(120000));
    ASSERT_TRUE(
        OnCluster(QStringLiteral("ALTER DATABASE %1 WITH ALLOW_CONNECTIONS true").arg(database_)));
    const QString err = QString::fromUtf8(collector.readAllStandardError());
    EXPECT_EQ(collector.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("синхронизация отправит"))) << err.toStdString();
    const QStringList rows =
        QString::fromUtf8(collector.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(rows.size(), 3) << rows.join(u'\n').toStdString(); // the header, the two claimed
    EXPECT_EQ(KeptSerials(QStringLiteral("a")).size(), 2);

    const ProgramRun sync = Run({QStringLiteral("--library-sync")});
    EXPECT_EQ(sync.exitCode, 0) << sync.err.toStdString();
    EXPECT_EQ(Number(QStringLiteral("SELECT count(*) FROM kv_downloads")), 2);
}

} // namespace

namespace {

// A collector whose claim another collector took (its lease ran out while the server was away
// from it) reads on and keeps what it read, but never writes over the claim that is now the
// other's: the outcome on the server is its holder's.
TEST_F(TeamCollectTest, AClaimTakenByAnotherCollectorKeepsItsHoldersOutcome) {
    PushFleet(2);
    QProcess collector;
    collector.setProcessEnvironment(Collector(QStringLiteral("a")));
    collector.start(program_, {QStringLiteral("--collect"), QStringLiteral("--team"),
                               QStringLiteral("--jobs"), QStringLiteral("1")});
    ASSERT_TRUE(collector.waitForStarted());
    qint64 line = -1;
    for (int i = 0; i < 600 && line < 0; ++i) {
        line = Number(QStringLiteral("SELECT min(line) FROM kv_fleet_claims WHERE collector IS "
                                     "NOT NULL AND done_at IS NULL"));
        if (line <= 0) {
            line = -1;
            QThread::msleep(50);
        }
    }
    ASSERT_GT(line, 0);
    Number(QStringLiteral("UPDATE kv_fleet_claims SET collector = 'elsewhere 1', leased_until = "
                          "now() + interval '1 hour' WHERE line = %1 RETURNING 1")
               .arg(line));
    // Both controllers read and kept here; the taken one still the other's, not done.
    for (int i = 0; i < 600 && KeptSerials(QStringLiteral("a")).size() < 2; ++i)
        QThread::msleep(50);
    ASSERT_EQ(KeptSerials(QStringLiteral("a")).size(), 2);
    QThread::msleep(500);
    EXPECT_EQ(Number(QStringLiteral("SELECT count(*) FROM kv_fleet_claims WHERE line = %1 AND "
                                    "collector = 'elsewhere 1' AND done_at IS NULL AND outcome IS "
                                    "NULL")
                         .arg(line)),
              1);
    // Its holder ends it; the collector then ends the run.
    Number(QStringLiteral("UPDATE kv_fleet_claims SET done_at = now(), outcome = 'failed: x' "
                          "WHERE line = %1 RETURNING 1")
               .arg(line));
    ASSERT_TRUE(collector.waitForFinished(30000));
    EXPECT_EQ(collector.exitCode(), 0) << collector.readAllStandardError().toStdString();
    EXPECT_EQ(Number(QStringLiteral("SELECT count(*) FROM kv_fleet_claims WHERE outcome = "
                                    "'failed: x'")),
              1);
    EXPECT_EQ(Number(QStringLiteral("SELECT count(*) FROM kv_fleet_claims WHERE outcome = "
                                    "'whole'")),
              1);
}

// A cluster of the test's own, to restart or stall without touching the other tests' server.
class TeamServerFaultTest : public TeamCollectTest {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("KV_TEST_POSTGRES"))
            GTEST_SKIP() << "no PostgreSQL for the tests (tools/test.sh starts one and sets "
                            "KV_TEST_POSTGRES)";
        ASSERT_TRUE(cluster_.isValid());
        const ProgramRun started = Cluster(QStringLiteral("start"));
        ASSERT_EQ(started.exitCode, 0) << started.err.toStdString();
        started_ = true;
        base_ = started.out.trimmed().section(QStringLiteral(" dbname="), 0, 0);
        TeamCollectTest::SetUp();
    }

    void TearDown() override {
        if (!started_)
            return;
        // Always let a stalled server go on, so that it can stop.
        Cluster(QStringLiteral("resume"));
        TeamCollectTest::TearDown();
        Cluster(QStringLiteral("stop"));
    }

    ProgramRun Cluster(const QString& command) {
        return RunProgram({command, cluster_.path()}, QProcessEnvironment::systemEnvironment(),
                          QStringLiteral(KV_SOURCE_DIR "/tools/test-postgres.sh"));
    }

    QProcess* StartCollector(const QString& name, int jobs) {
        collectors_.push_back(std::make_unique<QProcess>());
        QProcess* collector = collectors_.back().get();
        collector->setProcessEnvironment(Collector(name));
        collector->start(program_, {QStringLiteral("--collect"), QStringLiteral("--team"),
                                    QStringLiteral("--jobs"), QString::number(jobs)});
        EXPECT_TRUE(collector->waitForStarted());
        return collector;
    }

    // Waits up to 30 s for the statement's first value to be at least least.
    bool WaitFor(const QString& sql, qint64 least) {
        for (int i = 0; i < 600; ++i) {
            if (Number(sql) >= least)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    QTemporaryDir cluster_;
    bool started_ = false;
    std::vector<std::unique_ptr<QProcess>> collectors_;
};

// The server restarted while a collector reads: the collector connects again, keeps its claim
// alive and writes its outcome, so that a collector started meanwhile never takes the controller
// being read. Every controller read once, its outcome on the server its reader's.
TEST_F(TeamServerFaultTest, AServerRestartedMidReadLeavesEachClaimWithItsReader) {
    WriteSettings(server_, 10);
    PushFleet(4);
    QProcess* first = StartCollector(QStringLiteral("a"), 1);
    const qint64 firstPid = first->processId();
    const QString firstName = QStringLiteral("'%") + QStringLiteral(" %1'").arg(firstPid);
    ASSERT_TRUE(WaitFor(QStringLiteral("SELECT count(*) FROM kv_fleet_claims WHERE collector "
                                       "LIKE %1 AND done_at IS NULL")
                            .arg(firstName),
                        1));
    const ProgramRun restarted = Cluster(QStringLiteral("restart"));
    ASSERT_EQ(restarted.exitCode, 0) << restarted.err.toStdString();
    ReconnectAdmin();
    QProcess* second = StartCollector(QStringLiteral("b"), 2);

    QMap<QString, QStringList> kept;
    for (QProcess* collector : {first, second}) {
        const QString name = collector == first ? QStringLiteral("a") : QStringLiteral("b");
        ASSERT_TRUE(collector->waitForFinished(120000)) << name.toStdString();
        const QString err = QString::fromUtf8(collector->readAllStandardError());
        EXPECT_EQ(collector->exitCode(), 0) << name.toStdString() << err.toStdString();
        EXPECT_FALSE(err.contains(QStringLiteral("связь с сервером"))) << err.toStdString();
        AddTable(kept, QString::fromUtf8(collector->readAllStandardOutput()), name);
    }
    QSqlQuery q(QSqlDatabase::database(database_, false));
    ASSERT_TRUE(q.exec(QStringLiteral("SELECT port, outcome, collector FROM kv_fleet_claims")));
    int rows = 0;
    while (q.next()) {
        ++rows;
        const QString port = q.value(0).toString();
        const QString reader = q.value(2).toString().endsWith(QStringLiteral(" %1").arg(firstPid))
                                   ? QStringLiteral("a")
                                   : QStringLiteral("b");
        EXPECT_EQ(kept.value(port), QStringList{reader}) << port.toStdString();
        EXPECT_EQ(q.value(1).toString(), QStringLiteral("whole")) << port.toStdString();
    }
    EXPECT_EQ(rows, 4);
    EXPECT_EQ(kept.size(), 4);
}

// A server that stops answering (every process of it stopped) while a collector reads: each wait
// on it ends within its bound, the controllers claimed are read and kept here, and the table is
// printed with the server's loss said.
TEST_F(TeamServerFaultTest, AStalledServerEndsTheCollectionWithItsTable) {
    PushFleet(4);
    QProcess* collector = StartCollector(QStringLiteral("a"), 2);
    ASSERT_TRUE(WaitFor(QStringLiteral("SELECT count(*) FROM kv_fleet_claims WHERE collector IS "
                                       "NOT NULL"),
                        2));
    const ProgramRun paused = Cluster(QStringLiteral("pause"));
    ASSERT_EQ(paused.exitCode, 0) << paused.err.toStdString();
    QElapsedTimer stalled;
    stalled.start();
    ASSERT_TRUE(collector->waitForFinished(60000)) << "still waiting for the server";
    const QString err = QString::fromUtf8(collector->readAllStandardError());
    EXPECT_EQ(collector->exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("сервер не ответил"))) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("синхронизация отправит"))) << err.toStdString();
    // The sync at the end connects to the same server, within the same bounds.
    EXPECT_TRUE(err.contains(QStringLiteral("Синхронизация с сервером не завершена")))
        << err.toStdString();
    QMap<QString, QStringList> kept;
    AddTable(kept, QString::fromUtf8(collector->readAllStandardOutput()), QStringLiteral("a"));
    EXPECT_EQ(kept.size(), 2);
    EXPECT_EQ(KeptSerials(QStringLiteral("a")).size(), 2);
    std::cerr << "the collection ended " << stalled.elapsed() << " ms after the server stalled\n";
}

} // namespace
