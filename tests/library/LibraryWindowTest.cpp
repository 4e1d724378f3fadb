// The library window offscreen, over a real index fed by visits to the simulated controller.

#include "LibraryWindow.h"
#include "ChannelChart.h"
#include "ChartWindow.h"
#include "LibraryIndex.h"
#include "Ser2Net.h"
#include "SimProcess.h"
#include "SimulatedVisit.h"
#include "TeamFleet.h"
#include "TeamSync.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <map>

namespace {

class LibraryWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        archives_ = dir_.filePath(QStringLiteral("archives"));
        incoming_ = dir_.filePath(QStringLiteral("incoming"));
        options_.indexPath = dir_.filePath(QStringLiteral("library.sqlite"));
        options_.archivesFolder = archives_;
    }

    void Visit(SimulatedVisit visit, const QString& folder) {
        QString error;
        ASSERT_FALSE(KeepSimulatedVisit(visit, folder, error).isEmpty()) << error.toStdString();
    }

    // The fleet list (header first) and the places its collection keeps what it reads.
    void UseFleet(const QStringList& lines) {
        options_.fleet.listPath = dir_.filePath(QStringLiteral("fleet.tsv"));
        QFile file(options_.fleet.listPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            (QStringList{QStringLiteral("port\taddress\tname")} + lines).join(u'\n').toUtf8());
        options_.fleet.places = {
            archives_, dir_.filePath(QStringLiteral("state")), options_.indexPath, {}};
    }

    static QStringList FleetLines(int firstPort, int n) {
        QStringList lines;
        for (int i = 0; i < n; ++i)
            lines
                << QStringLiteral("tcp://127.0.0.1:%1\t1\tКотельная %2").arg(firstPort + i).arg(i);
        return lines;
    }

    // A database of its own on the PostgreSQL of tools/test.sh, as a server string; empty when
    // there is none.
    static QString NewServer() {
        const QString admin = qEnvironmentVariable("KV_TEST_POSTGRES");
        if (admin.isEmpty())
            return {};
        const QString database =
            QStringLiteral("win_") + QUuid::createUuid().toString(QUuid::Id128).left(12);
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("w"));
            db.setConnectOptions(admin);
            EXPECT_TRUE(db.open());
            EXPECT_TRUE(QSqlQuery(db).exec(QStringLiteral("CREATE DATABASE ") + database));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("w"));
        return admin + QStringLiteral(" dbname=") + database;
    }

    // Each fleet row's port and state, in the table's order.
    static std::vector<std::pair<QString, QString>> FleetRows(const LibraryWindow& window) {
        std::vector<std::pair<QString, QString>> rows;
        const QAbstractItemModel* model = window.Fleet()->model();
        for (int r = 0; r < model->rowCount(); ++r)
            rows.emplace_back(model->index(r, 0).data().toString(),
                              model->index(r, 3).data().toString());
        return rows;
    }

    QTemporaryDir dir_;
    QString archives_, incoming_;
    LibraryWindowOptions options_;
};

TEST_F(LibraryWindowTest, ShowsControllersFiltersVisitsOpensAVisitAndDrawsTheHistory) {
    for (const char* at : {"2024-01-01", "2024-02-01", "2024-06-01"})
        Visit({.serial = 101, .at = QString::fromLatin1(at), .comment = QStringLiteral("Школа")},
              archives_);
    Visit({.serial = 202, .at = QStringLiteral("2024-02-01"), .comment = QStringLiteral("Баня")},
          incoming_);
    options_.choosePaths = [this](QWidget*) { return QStringList{incoming_}; };
    LibraryWindow window(options_);
    window.show();
    QSignalSpy done(&window, &LibraryWindow::WorkDone);

    // The files already kept are indexed off the window's thread; the rows follow.
    window.CatchUp();
    ASSERT_TRUE(done.wait(60000));
    QTableView* controllers = window.Controllers();
    ASSERT_EQ(controllers->model()->rowCount(), 1);
    EXPECT_EQ(controllers->model()->index(0, 1).data().toString(), QStringLiteral("Школа"));
    EXPECT_EQ(controllers->model()->index(0, 4).data().toInt(), 3);
    // The June visit came after more than the memory holds: its lost days are highlighted.
    const QModelIndex lost = controllers->model()->index(0, 8);
    EXPECT_GT(lost.data().toDouble(), 30.0);
    EXPECT_TRUE(lost.data(Qt::BackgroundRole).isValid());

    // "Добавить архивы…" copies and indexes the chosen folder.
    const QList<QPushButton*> buttons = window.findChildren<QPushButton*>();
    QPushButton* add = nullptr;
    for (QPushButton* b : buttons)
        if (b->text() == QStringLiteral("Добавить архивы…"))
            add = b;
    ASSERT_NE(add, nullptr);
    add->click();
    ASSERT_TRUE(done.wait(60000));
    EXPECT_TRUE(window.Status()->text().contains(QStringLiteral("Добавлено архивов: 1")))
        << window.Status()->text().toStdString();
    ASSERT_EQ(controllers->model()->rowCount(), 2);

    // The filter narrows as one types.
    window.Filter()->setText(QStringLiteral("б"));
    EXPECT_EQ(controllers->model()->rowCount(), 1); // "Баня", case aside; "Школа" has no б
    window.Filter()->setText(QStringLiteral("бан"));
    ASSERT_EQ(controllers->model()->rowCount(), 1);
    EXPECT_EQ(controllers->model()->index(0, 0).data().toString(), QStringLiteral("202"));
    window.Filter()->clear();
    ASSERT_EQ(controllers->model()->rowCount(), 2);

    // Choosing a controller lists its visits; a double click asks for the visit's file.
    controllers->setCurrentIndex(controllers->model()->index(0, 0));
    ASSERT_EQ(window.ChosenSerial(), 101);
    QTableView* visits = window.Visits();
    ASSERT_EQ(visits->model()->rowCount(), 3);
    QSignalSpy open(&window, &LibraryWindow::VisitOpenRequested);
    const QModelIndex second = visits->model()->index(1, 0);
    const QPoint at = visits->visualRect(second).center();
    QTest::mouseClick(visits->viewport(), Qt::LeftButton, {}, at); // a double click's first press
    QTest::mouseDClick(visits->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(open.size(), 1);
    EXPECT_TRUE(open[0][0].toString().startsWith(archives_ + QStringLiteral("/101/2024-02-01")))
        << open[0][0].toString().toStdString();

    // "История": one chart of the whole history, every record of the three visits once.
    window.ShowHistory();
    ChartWindow* history = window.HistoryWindow();
    ASSERT_NE(history, nullptr);
    EXPECT_TRUE(history->isVisible());
    EXPECT_EQ(history->ChannelTabCount(), 2);
    LibraryIndex index;
    ASSERT_EQ(index.Open(options_.indexPath), QString());
    const auto c = index.Controllers();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(
        static_cast<qint64>(history->Series()[0].time.size() + history->Series()[1].time.size()),
        c[0].records);
    EXPECT_EQ(history->windowTitle(),
              QStringLiteral("История — %1, серийный номер 101").arg(c[0].identification));
    EXPECT_FALSE(c[0].identification.isEmpty());
}

// A second user with an empty data folder and the same server: "Синхронизировать" brings the
// team's visits, off the window's thread. Against the PostgreSQL of tools/test.sh.
TEST_F(LibraryWindowTest, SynchronizeBringsTheTeamsVisitsIntoAnEmptyLibrary) {
    const QString server = NewServer();
    if (server.isEmpty())
        GTEST_SKIP() << "no PostgreSQL for the tests (tools/test.sh starts one)";

    // The first engineer's three visits go up.
    const QString theirs = dir_.filePath(QStringLiteral("theirs"));
    for (const char* at : {"2024-01-01", "2024-02-01", "2024-03-01"})
        Visit({.serial = 303, .at = QString::fromLatin1(at)}, theirs + QStringLiteral("/archives"));
    {
        LibraryIndex index;
        ASSERT_EQ(index.Open(theirs + QStringLiteral("/library.sqlite")), QString());
        ASSERT_EQ(SyncWithServer(index, theirs + QStringLiteral("/archives"), server).sent, 3);
    }

    options_.sync = [server, folder = archives_](LibraryIndex& index) {
        return FormatSyncReport(SyncWithServer(index, folder, server));
    };
    LibraryWindow window(options_);
    window.show();
    ASSERT_EQ(window.Controllers()->model()->rowCount(), 0);
    QPushButton* sync = nullptr;
    for (QPushButton* b : window.findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("Синхронизировать"))
            sync = b;
    ASSERT_NE(sync, nullptr);
    EXPECT_TRUE(sync->isVisible());
    QSignalSpy done(&window, &LibraryWindow::WorkDone);
    sync->click();
    ASSERT_TRUE(done.wait(60000));
    EXPECT_TRUE(window.Status()->text().contains(QStringLiteral("получено с сервера: 3")))
        << window.Status()->text().toStdString();
    ASSERT_EQ(window.Controllers()->model()->rowCount(), 1);
    EXPECT_EQ(window.Controllers()->model()->index(0, 4).data().toInt(), 3);
}

// "Перезапись через, дн.": from today, a controller read a week ago has weeks left (plain), one
// read eleven weeks ago days (highlighted), one read last year none (red); the column sorts.
TEST_F(LibraryWindowTest, DaysUntilOverwritingStandOutWhenFewOrPastAndSort) {
    const QDate today = QDate::currentDate();
    const struct {
        int serial;
        QDate at;
    } visits[] = {{301, today.addDays(-7)}, {302, today.addDays(-78)}, {303, today.addYears(-1)}};
    for (const auto& v : visits)
        Visit({.serial = v.serial, .at = v.at.toString(Qt::ISODate)}, archives_);
    LibraryWindow window(options_);
    QSignalSpy done(&window, &LibraryWindow::WorkDone);
    window.CatchUp();
    ASSERT_TRUE(done.wait(60000));
    QTableView* controllers = window.Controllers();
    QAbstractItemModel* model = controllers->model();
    ASSERT_EQ(model->rowCount(), 3);
    ASSERT_EQ(model->headerData(10, Qt::Horizontal).toString(),
              QStringLiteral("Перезапись через, дн."));
    controllers->sortByColumn(10, Qt::AscendingOrder);
    QList<int> order;
    for (int r = 0; r < 3; ++r)
        order << model->index(r, 0).data().toInt();
    EXPECT_EQ(order, QList<int>({303, 302, 301}));
    const auto days = [&](int row) { return model->index(row, 10).data().toDouble(); };
    const auto colour = [&](int row) { return model->index(row, 10).data(Qt::BackgroundRole); };
    EXPECT_LT(days(0), 0);
    EXPECT_GT(days(1), 0);
    EXPECT_LE(days(1), 14);
    EXPECT_GT(days(2), 14);
    EXPECT_TRUE(colour(0).isValid() && colour(1).isValid());
    EXPECT_NE(colour(0), colour(1));
    EXPECT_FALSE(colour(2).isValid());
}

// "Собрать сейчас" on a simulated fleet of three and a port nobody answers on: the rows move
// while the window's thread goes on, end with their outcomes, most urgent first; the controllers
// come into the library; a fresh window shows the last run.
TEST_F(LibraryWindowTest, CollectsTheFleetOffTheWindowsThreadAndAFreshWindowShowsTheLastRun) {
    int first = 0;
    const auto sim = StartSimFleet(3,
                                   {QStringLiteral("--serial"), QStringLiteral("700"),
                                    QStringLiteral("--at"), QStringLiteral("2024-03-01T10:00")},
                                   first);
    ASSERT_TRUE(sim->Running());
    const QString dead = QStringLiteral("tcp://127.0.0.1:%1").arg(FreeTcpPort());
    UseFleet(FleetLines(first, 3) << dead + QStringLiteral("\t1\tнет связи")
                                  << QStringLiteral("COM3\tпять\tплохой адрес"));
    LibraryWindow window(options_);
    window.show();
    ASSERT_EQ(window.Fleet()->model()->rowCount(), 4); // the list, before anything ran
    EXPECT_TRUE(window.Status()->text().contains(QStringLiteral("строка 6")))
        << window.Status()->text().toStdString();

    QSignalSpy done(&window, &LibraryWindow::CollectionDone);
    {
        // Another collection on this machine: refused, said, nothing read.
        QLockFile other(options_.fleet.places.stateFolder + QStringLiteral("/collect.lock"));
        ASSERT_TRUE(QDir().mkpath(options_.fleet.places.stateFolder) && other.tryLock(0));
        window.CollectButton()->click();
        ASSERT_TRUE(done.wait(10000));
        EXPECT_TRUE(window.Status()->text().contains(QStringLiteral("сбор уже идёт")))
            << window.Status()->text().toStdString();
        EXPECT_FALSE(QDir(archives_).exists());
    }

    QStringList seen; // every state a row showed
    QObject::connect(window.Fleet()->model(), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& from) {
                         if (from.column() == 3)
                             seen << from.data().toString();
                     });
    window.CollectButton()->click();
    EXPECT_FALSE(window.CollectButton()->isEnabled());
    ASSERT_TRUE(done.wait(120000));
    ASSERT_EQ(done.size(), 2);
    EXPECT_TRUE(window.CollectButton()->isEnabled());
    EXPECT_FALSE(seen.filter(QStringLiteral("читается")).isEmpty())
        << seen.join(u',').toStdString();
    EXPECT_FALSE(seen.filter(QStringLiteral("попытка 2")).isEmpty())
        << seen.join(u',').toStdString();

    const auto rows = FleetRows(window);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].first, dead); // nothing of it was read: first
    EXPECT_TRUE(rows[0].second.startsWith(QStringLiteral("не собран: ") + dead))
        << rows[0].second.toStdString();
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_EQ(rows[i].second, QStringLiteral("весь архив")) << rows[i].first.toStdString();
    QAbstractItemModel* controllers = window.Controllers()->model();
    ASSERT_EQ(controllers->rowCount(), 3);
    QList<int> serials;
    for (int r = 0; r < 3; ++r) {
        serials << controllers->index(r, 0).data().toInt();
        EXPECT_FALSE(controllers->index(r, 10).data().toString().isEmpty()); // days left
    }
    EXPECT_EQ(serials, QList<int>({700, 701, 702}));

    LibraryWindow fresh(options_);
    EXPECT_EQ(FleetRows(fresh), rows);
    // Its days left come from the library, by the serial number the run kept.
    EXPECT_FALSE(fresh.Fleet()->model()->index(1, 5).data().toString().isEmpty());
}

// The fleet's outcomes in words, its rows that need the engineer marked as lost days are: a
// controller nobody answers for, and one read 78 days ago (its ring is 88 days long) stand out
// whole; one read a week ago does not. The words come again from the kept run in a fresh window,
// whose file keeps the table's codes; a second run says "новые записи".
TEST_F(LibraryWindowTest, FleetOutcomesAreWordsAndRowsThatNeedTheEngineerStandOut) {
    const QDateTime midnight(QDate::currentDate(), QTime(0, 0));
    int weekPort = 0, soonPort = 0;
    const auto week =
        StartSimFleet(1,
                      {QStringLiteral("--serial"), QStringLiteral("730"), QStringLiteral("--at"),
                       midnight.addDays(-7).toString(QStringLiteral("yyyy-MM-ddTHH:mm"))},
                      weekPort);
    const auto soon =
        StartSimFleet(1,
                      {QStringLiteral("--serial"), QStringLiteral("731"), QStringLiteral("--at"),
                       midnight.addDays(-78).toString(QStringLiteral("yyyy-MM-ddTHH:mm"))},
                      soonPort);
    ASSERT_TRUE(week->Running() && soon->Running());
    const QString dead = QStringLiteral("tcp://127.0.0.1:%1").arg(FreeTcpPort());
    const QString weekly = QStringLiteral("tcp://127.0.0.1:%1").arg(weekPort);
    const QString due = QStringLiteral("tcp://127.0.0.1:%1").arg(soonPort);
    UseFleet({weekly + QStringLiteral("\t1\tнеделя"), due + QStringLiteral("\t1\tскоро"),
              dead + QStringLiteral("\t1\tнет связи")});

    // Each row's state, and whether each of its cells is marked, by port.
    struct Row {
        QString state;
        std::vector<bool> marked;
        double days = 0;
    };
    const auto rows = [](const LibraryWindow& window) {
        std::map<QString, Row> byPort;
        const QAbstractItemModel* model = window.Fleet()->model();
        for (int r = 0; r < model->rowCount(); ++r) {
            Row row{model->index(r, 3).data().toString(), {}, model->index(r, 5).data().toDouble()};
            for (int c = 0; c < model->columnCount(); ++c)
                row.marked.push_back(model->index(r, c).data(Qt::BackgroundRole).isValid());
            byPort[model->index(r, 0).data().toString()] = row;
        }
        return byPort;
    };
    const std::vector<bool> all(6, true), none(6, false);
    const auto collect = [](LibraryWindow& window) {
        QSignalSpy done(&window, &LibraryWindow::CollectionDone);
        window.CollectButton()->click();
        return done.wait(120000);
    };

    {
        LibraryWindow window(options_);
        window.show();
        ASSERT_TRUE(collect(window));
        auto shown = rows(window);
        ASSERT_EQ(shown.size(), 3u);
        EXPECT_TRUE(shown[dead].state.startsWith(QStringLiteral("не собран: ") + dead))
            << shown[dead].state.toStdString();
        EXPECT_EQ(shown[dead].marked, all);
        EXPECT_EQ(shown[due].state, QStringLiteral("весь архив"));
        EXPECT_EQ(shown[due].marked, all);
        EXPECT_EQ(shown[weekly].state, QStringLiteral("весь архив"));
        EXPECT_EQ(shown[weekly].marked, none);
        EXPECT_GT(shown[due].days, 0);
        EXPECT_LE(shown[due].days, 14);
        EXPECT_GT(shown[weekly].days, 14);

        // Again: only the new records (none since), said so.
        ASSERT_TRUE(collect(window));
        shown = rows(window);
        EXPECT_EQ(shown[due].state, QStringLiteral("новые записи"));
        EXPECT_EQ(shown[weekly].state, QStringLiteral("новые записи"));
    }

    // The kept run keeps the table's codes; a fresh window says them in words, marked the same.
    QFile kept(KeptRunPath(options_.fleet.places.stateFolder));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    const QString table = QString::fromUtf8(kept.readAll());
    EXPECT_TRUE(table.contains(QStringLiteral("\tnew\t")) &&
                table.contains(QStringLiteral("\tfailed: ")))
        << table.toStdString();
    EXPECT_FALSE(table.contains(QStringLiteral("новые записи")));
    LibraryWindow fresh(options_);
    const auto again = rows(fresh);
    ASSERT_EQ(again.size(), 3u);
    EXPECT_TRUE(again.at(dead).state.startsWith(QStringLiteral("не собран: ")));
    EXPECT_EQ(again.at(dead).marked, all);
    EXPECT_EQ(again.at(due).state, QStringLiteral("новые записи"));
    EXPECT_EQ(again.at(due).marked, all);
    EXPECT_EQ(again.at(weekly).marked, none);
}

// Closing the window in the middle of a paced collection (a whole read takes over half a minute)
// stops it at once: the window closes, no half read is kept, and the next run may start.
TEST_F(LibraryWindowTest, ClosingTheWindowStopsACollectionAndKeepsNothingHalfRead) {
    int first = 0;
    const auto sim = StartSimFleet(2,
                                   {QStringLiteral("--serial"), QStringLiteral("710"),
                                    QStringLiteral("--baud"), QStringLiteral("115200")},
                                   first);
    ASSERT_TRUE(sim->Running());
    UseFleet(FleetLines(first, 2));
    LibraryWindow window(options_);
    window.show();
    window.CollectButton()->click();
    QElapsedTimer waited;
    waited.start();
    auto reading = [&] {
        for (const auto& row : FleetRows(window))
            if (row.second.startsWith(QStringLiteral("читается")) &&
                row.second != QStringLiteral("читается 0%"))
                return true;
        return false;
    };
    while (!reading() && waited.elapsed() < 30000)
        QTest::qWait(50);
    ASSERT_TRUE(reading());

    QElapsedTimer closing;
    closing.start();
    EXPECT_TRUE(window.close());
    EXPECT_LT(closing.elapsed(), 3000);
    EXPECT_FALSE(window.isVisible());
    QDirIterator files(archives_, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    EXPECT_FALSE(files.hasNext()) << files.next().toStdString();
    QLockFile lock(options_.fleet.places.stateFolder + QStringLiteral("/collect.lock"));
    EXPECT_TRUE(lock.tryLock(0));
}

} // namespace

// With the team's server holding the fleet, the window shows the server's list (fetched off its
// thread) and "Собрать сейчас" joins the server's run: a controller another collector has already
// read is left to it, the rest is read and kept here. Against the PostgreSQL of tools/test.sh.
TEST_F(LibraryWindowTest, TheServersFleetIsShownAndCollectedAsOneOfTheTeam) {
    const QString server = NewServer();
    if (server.isEmpty())
        GTEST_SKIP() << "no PostgreSQL for the tests (tools/test.sh starts one)";
    int first = 0;
    const auto sim = StartSimFleet(2, {QStringLiteral("--serial"), QStringLiteral("720")}, first);
    ASSERT_TRUE(sim->Running());
    const FleetList list =
        ParseFleetList((QStringList{QStringLiteral("port\taddress\tname")} + FleetLines(first, 2))
                           .join(u'\n')
                           .toUtf8());
    ASSERT_EQ(PushFleetList(server, list.entries), QString());
    // Another collector of the team has read one controller of tonight's run already.
    FleetEntry theirs;
    {
        TeamClaims other(server, 60);
        ASSERT_EQ(other.Refusal(), QString());
        ASSERT_EQ(other.Next(theirs), FleetClaims::Answer::Claimed);
        FleetResult result;
        result.entry = theirs;
        result.outcome = FleetOutcome::Whole;
        other.Done(theirs, result);
    }

    UseFleet({}); // a file of this machine's own, not shown while the server has a list
    options_.fleet.server = server;
    LibraryWindow window(options_);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return FleetRows(window).size() == 2; }, 30000));

    QSignalSpy done(&window, &LibraryWindow::CollectionDone);
    window.CollectButton()->click();
    ASSERT_TRUE(done.wait(120000)) << window.Status()->text().toStdString();
    std::map<QString, QString> states;
    for (const auto& [port, state] : FleetRows(window))
        states[port] = state;
    ASSERT_EQ(states.size(), 2u) << window.Status()->text().toStdString();
    for (const FleetEntry& e : list.entries)
        EXPECT_EQ(states[e.port], e.port == theirs.port ? QStringLiteral("у другого сборщика")
                                                        : QStringLiteral("весь архив"))
            << e.port.toStdString();
    EXPECT_EQ(window.Controllers()->model()->rowCount(), 1);
}
