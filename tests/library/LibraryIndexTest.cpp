// The index over kept archives, through real SQLite files, fed by downloads from the simulated
// controller visited at chosen dates.

#include "LibraryIndex.h"
#include "ArchiveFile.h"
#include "ChartSeries.h"
#include "LibrarySchema.h"
#include "SimulatedVisit.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <set>
#include <thread>

// Readable outcomes in failure messages.
void PrintTo(AddOutcome outcome, std::ostream* os) {
    *os << (outcome == AddOutcome::Added          ? "Added"
            : outcome == AddOutcome::AlreadyThere ? "AlreadyThere"
                                                  : "Refused");
}

namespace {

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The record times a kept file holds, per channel.
std::vector<std::set<double>> TimesOf(const QString& file) {
    const ArchiveFileReadResult read = ReadArchiveFile(file);
    std::vector<std::set<double>> times;
    if (!read.contents)
        return times;
    for (const ChannelSeries& s :
         ExtractChartSeries(read.contents->image, read.contents->channelCount))
        times.emplace_back(s.time.begin(), s.time.end());
    return times;
}

class LibraryIndexTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        archives_ = dir_.filePath(QStringLiteral("archives"));
        indexPath_ = dir_.filePath(QStringLiteral("library.sqlite"));
    }

    QString Visit(SimulatedVisit visit) {
        QString error;
        const QString path = KeepSimulatedVisit(visit, archives_, error);
        EXPECT_FALSE(path.isEmpty()) << error.toStdString();
        return path;
    }

    QTemporaryDir dir_;
    QString archives_;
    QString indexPath_;
};

TEST_F(LibraryIndexTest, ThreeVisitsAMonthApartGiveOneHistoryWithEachRecordOnce) {
    const QStringList files{Visit({.at = QStringLiteral("2024-01-26T09:00")}),
                            Visit({.at = QStringLiteral("2024-02-26T11:30")}),
                            Visit({.at = QStringLiteral("2024-03-26T08:15")})};
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    for (const QString& file : files) {
        const AddResult added = index.AddFile(file);
        EXPECT_EQ(added.outcome, AddOutcome::Added) << added.error.toStdString();
    }
    EXPECT_EQ(index.AddFile(files[1]).outcome, AddOutcome::AlreadyThere);

    // What the three downloads hold together, channel by channel.
    std::vector<std::set<double>> expected(2);
    for (const QString& file : files) {
        const auto times = TimesOf(file);
        ASSERT_EQ(times.size(), 2u);
        for (int ch = 0; ch < 2; ++ch)
            expected[ch].insert(times[ch].begin(), times[ch].end());
    }

    const std::vector<LibraryController> controllers = index.Controllers();
    ASSERT_EQ(controllers.size(), 1u);
    const LibraryController& c = controllers[0];
    EXPECT_EQ(c.serial, 12345);
    EXPECT_EQ(c.place, QStringLiteral("Котельная"));
    EXPECT_EQ(c.channels, 2);
    EXPECT_EQ(c.visits, 3);
    EXPECT_EQ(c.records, static_cast<qint64>(expected[0].size() + expected[1].size()));
    EXPECT_EQ(c.conflicts, 0);
    EXPECT_EQ(c.lostSeconds, 0); // a month apart: the visits overlap
    EXPECT_EQ(c.first, static_cast<qint64>(*expected[0].begin()));
    EXPECT_EQ(c.last, static_cast<qint64>(
                          QDateTime(QDate(2024, 3, 26), QTime(8, 0), Qt::UTC).toSecsSinceEpoch()));

    const std::vector<ChannelSeries> history = index.History(12345);
    ASSERT_EQ(history.size(), 2u);
    for (int ch = 0; ch < 2; ++ch) {
        const std::vector<double>& t = history[ch].time;
        EXPECT_EQ(std::set<double>(t.begin(), t.end()), expected[ch]) << "channel " << ch + 1;
        EXPECT_EQ(t.size(), expected[ch].size()) << "a record shown twice";
        EXPECT_EQ(history[ch].logInterval, 1800);
    }

    const std::vector<LibraryVisit> visits = index.Visits(12345);
    ASSERT_EQ(visits.size(), 3u);
    EXPECT_EQ(visits[0].file, files[0]);
    EXPECT_EQ(visits[2].downloadedAt.date(), QDate(2024, 3, 26));
    EXPECT_EQ(visits[1].lostSeconds, 0);
    // The simulated settings change every 45 days (on 2024-03-10): between the second and third
    // visit, not the first two.
    EXPECT_FALSE(visits[1].settingsChanged);
    EXPECT_TRUE(visits[2].settingsChanged);

    // A one-channel controller beside it: its history has its one channel, with every record.
    const QString single =
        Visit({.serial = 777, .channels = 1, .at = QStringLiteral("2024-02-01T12:00")});
    ASSERT_EQ(index.AddFile(single).outcome, AddOutcome::Added);
    const std::vector<ChannelSeries> one = index.History(777);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].time.size(), TimesOf(single)[0].size());
    EXPECT_EQ(index.History(12345).size(), 2u);
}

TEST_F(LibraryIndexTest, AVisitAfterALongGapShowsTheDaysOverwritten) {
    const QString first = Visit({.at = QStringLiteral("2024-01-01T00:00")});
    const QString late = Visit({.at = QStringLiteral("2024-06-01T00:00")});
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    EXPECT_EQ(index.AddFile(late).outcome,
              AddOutcome::Added); // the order they come in is no matter
    EXPECT_EQ(index.AddFile(first).outcome, AddOutcome::Added);

    // The late visit's memory reaches back 4220 half hours less the erased sector ahead of the
    // write position: what was logged after 2024-01-01 00:00 and before that is gone.
    const auto lateTimes = TimesOf(late);
    const double oldest = std::min(*lateTimes[0].begin(), *lateTimes[1].begin());
    const double readUpTo = QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    const qint64 lost = static_cast<qint64>(oldest - readUpTo - 1800);
    EXPECT_GT(lost, 60 * 86400);
    EXPECT_LT(lost, 70 * 86400);

    const auto controllers = index.Controllers();
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(controllers[0].lostSeconds, lost);
    const auto visits = index.Visits(12345);
    ASSERT_EQ(visits.size(), 2u);
    EXPECT_EQ(visits[0].lostSeconds, 0);
    EXPECT_EQ(visits[1].lostSeconds, lost);
    // The history has its hole and both stretches.
    const auto history = index.History(12345);
    EXPECT_EQ(history[0].time.size(), TimesOf(first)[0].size() + lateTimes[0].size());
}

TEST_F(LibraryIndexTest, AReplacedControllerWithTheSameSerialGivesConflictsNotLostRecords) {
    const QString before = Visit({.at = QStringLiteral("2024-01-01T00:00")});
    // Two weeks later another controller answers to the same serial number; its clock shows the
    // same half hours, its records other values.
    const QString after = Visit({.at = QStringLiteral("2024-01-15T00:00"), .historySeed = 777});
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    ASSERT_EQ(index.AddFile(before).outcome, AddOutcome::Added);
    ASSERT_EQ(index.AddFile(after).outcome, AddOutcome::Added);

    const auto a = TimesOf(before), b = TimesOf(after);
    qint64 both = 0, either = 0;
    for (int ch = 0; ch < 2; ++ch) {
        std::set<double> all = a[ch];
        all.insert(b[ch].begin(), b[ch].end());
        either += static_cast<qint64>(all.size());
        both += static_cast<qint64>(a[ch].size() + b[ch].size() - all.size());
    }
    ASSERT_GT(both, 1000);
    const auto controllers = index.Controllers();
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(controllers[0].records, either);
    EXPECT_EQ(controllers[0].conflicts, both);
    // Both versions of a repeated time are kept: the history shows every record of both.
    const auto history = index.History(12345);
    EXPECT_EQ(history[0].time.size(), a[0].size() + b[0].size());

    // The replacement visited again: where its times already hold both versions, its own is
    // there already and neither a new time nor a new conflict.
    const QString again = Visit({.at = QStringLiteral("2024-01-22T00:00"), .historySeed = 777});
    ASSERT_EQ(index.AddFile(again).outcome, AddOutcome::Added);
    const auto c = TimesOf(again);
    qint64 times = 0, pairs = 0;
    for (int ch = 0; ch < 2; ++ch) {
        std::set<double> replacement = b[ch];
        replacement.insert(c[ch].begin(), c[ch].end());
        std::set<double> all = a[ch];
        all.insert(replacement.begin(), replacement.end());
        times += static_cast<qint64>(all.size());
        pairs += static_cast<qint64>(a[ch].size() + replacement.size());
    }
    ASSERT_GT(times, either);
    const auto later = index.Controllers();
    EXPECT_EQ(later[0].records, times);
    EXPECT_EQ(later[0].conflicts, pairs - times);
    EXPECT_EQ(later[0].conflicts, both);
}

TEST_F(LibraryIndexTest, DamagedAndForeignFilesAreSkippedAndReportedWhileTheRestIsIndexed) {
    const QString good = Visit({.at = QStringLiteral("2024-01-10T09:00")});
    const QString folder = QFileInfo(good).absolutePath();
    QByteArray bytes = ReadBytes(good);
    bytes[1000] = static_cast<char>(bytes[1000] ^ 0x55);
    ASSERT_TRUE(WriteBytes(folder + QStringLiteral("/damaged.kvarc"), bytes));
    ASSERT_TRUE(WriteBytes(folder + QStringLiteral("/foreign.kvarc"), "PK\x03\x04 not ours"));
    ArchiveFileContents noSerial = *ReadArchiveFile(good).contents;
    noSerial.serial.reset();
    ASSERT_EQ(WriteArchiveFile(archives_ + QStringLiteral("/unknown-serial/x.kvarc"), noSerial),
              QString());

    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    const IndexReport report = index.CatchUp(archives_);
    EXPECT_EQ(report.added, 1);
    ASSERT_EQ(report.refused.size(), 3u);
    for (const auto& r : report.refused)
        EXPECT_FALSE(r.cause.isEmpty()) << r.path.toStdString();
    EXPECT_EQ(index.Controllers().size(), 1u);
    // A second pass finds nothing new and indexes nothing twice.
    EXPECT_EQ(index.CatchUp(archives_).added, 0);
    EXPECT_EQ(index.Controllers()[0].visits, 1);
}

TEST_F(LibraryIndexTest, ImportCopiesFilesIntoTheArchivesFolderOnce) {
    const QString outside = dir_.filePath(QStringLiteral("usb-stick"));
    const QString file = Visit({.serial = 7, .at = QStringLiteral("2024-05-01T12:00")});
    ASSERT_TRUE(QDir().mkpath(outside));
    ASSERT_TRUE(QFile::rename(file, outside + QStringLiteral("/a.kvarc")));
    ASSERT_TRUE(WriteBytes(outside + QStringLiteral("/b.kvarc"), QByteArray(10, 'x')));

    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    const IndexReport first = index.Import({outside}, archives_);
    EXPECT_EQ(first.added, 1);
    EXPECT_EQ(first.refused.size(), 1u);
    ASSERT_EQ(first.addedFiles.size(), 1);
    EXPECT_TRUE(first.addedFiles[0].startsWith(archives_ + QStringLiteral("/7/")));
    EXPECT_EQ(ReadBytes(first.addedFiles[0]), ReadBytes(outside + QStringLiteral("/a.kvarc")));
    const IndexReport again = index.Import({outside + QStringLiteral("/a.kvarc")}, archives_);
    EXPECT_EQ(again.added, 0);
    EXPECT_EQ(again.alreadyThere, 1);
    EXPECT_EQ(QDir(archives_ + QStringLiteral("/7")).entryList(QDir::Files).size(), 1);
}

TEST_F(LibraryIndexTest, ANewerOrDamagedIndexIsRefusedUntouchedAndReindexWritesAFreshOneBeside) {
    const QString file = Visit({.at = QStringLiteral("2024-01-10T09:00")});
    {
        LibraryIndex index;
        ASSERT_EQ(index.Open(indexPath_), QString());
    }
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(indexPath_);
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(
            QStringLiteral("PRAGMA user_version = %1").arg(LibrarySchemaVersion + 1));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
    const QByteArray newer = ReadBytes(indexPath_);
    {
        LibraryIndex index;
        const QString error = index.Open(indexPath_);
        EXPECT_TRUE(error.contains(QStringLiteral("более новой версией"))) << error.toStdString();
        EXPECT_EQ(index.AddFile(file).outcome, AddOutcome::Refused);
    }
    EXPECT_EQ(ReadBytes(indexPath_), newer);

    const QByteArray garbage(8192, 'G');
    ASSERT_TRUE(WriteBytes(indexPath_, garbage));
    {
        LibraryIndex index;
        EXPECT_TRUE(index.Open(indexPath_).contains(QStringLiteral("повреждён")));
    }
    EXPECT_EQ(ReadBytes(indexPath_), garbage);

    QString error;
    const IndexReport report = RebuildLibraryIndex(indexPath_, archives_, error);
    EXPECT_EQ(error, QString());
    EXPECT_EQ(report.added, 1);
    const QStringList kept =
        QDir(dir_.path()).entryList({QStringLiteral("library.sqlite.damaged-*")}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(ReadBytes(dir_.filePath(kept[0])), garbage);
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    EXPECT_EQ(index.Controllers().size(), 1u);
}

TEST_F(LibraryIndexTest, AFullDiskRollsTheFileBackAndLeavesTheIndexValid) {
    const QString first = Visit({.at = QStringLiteral("2024-01-10T09:00")});
    const QString second = Visit({.at = QStringLiteral("2024-04-10T09:00")});
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    ASSERT_EQ(index.AddFile(first).outcome, AddOutcome::Added);
    const auto before = index.Controllers();
    // SQLite's own page limit makes the disk full on demand: the second file does not fit.
    QSqlDatabase db = QSqlDatabase::database(index.ConnectionName());
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA page_count")) && q.next());
    const int pages = q.value(0).toInt();
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pages + 20)));
    const AddResult full = index.AddFile(second);
    EXPECT_EQ(full.outcome, AddOutcome::Refused);
    EXPECT_FALSE(full.error.isEmpty());
    const auto after = index.Controllers();
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].visits, 1);
    EXPECT_EQ(after[0].records, before[0].records);
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
    EXPECT_EQ(q.value(0).toString(), QStringLiteral("ok"));
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA max_page_count = 1000000000")));
    EXPECT_EQ(index.AddFile(second).outcome, AddOutcome::Added);
    EXPECT_EQ(index.Controllers()[0].visits, 2);
}

TEST_F(LibraryIndexTest, TwoInstancesAddingAtOnceLoseNothing) {
    QStringList a, b;
    for (int month = 1; month <= 3; ++month) {
        a << Visit(
            {.serial = 1, .at = QStringLiteral("2024-%1-01").arg(month, 2, 10, QLatin1Char('0'))});
        b << Visit(
            {.serial = 2, .at = QStringLiteral("2024-%1-01").arg(month, 2, 10, QLatin1Char('0'))});
    }
    {
        LibraryIndex index;
        ASSERT_EQ(index.Open(indexPath_), QString());
    }
    auto addAll = [this](const QStringList& files, int* added) {
        LibraryIndex index;
        if (!index.Open(indexPath_).isEmpty())
            return;
        for (const QString& f : files)
            *added += index.AddFile(f).outcome == AddOutcome::Added;
    };
    int addedA = 0, addedB = 0;
    std::thread ta(addAll, a + b, &addedA);
    std::thread tb(addAll, b + a, &addedB);
    ta.join();
    tb.join();
    EXPECT_EQ(addedA + addedB, 6);
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    const auto controllers = index.Controllers();
    ASSERT_EQ(controllers.size(), 2u);
    EXPECT_EQ(controllers[0].visits, 3);
    EXPECT_EQ(controllers[1].visits, 3);
    EXPECT_EQ(controllers[0].conflicts + controllers[1].conflicts, 0);
}

} // namespace
