// The index over kept archives, through real SQLite files, fed by downloads from the simulated
// controller visited at chosen dates.

#include "LibraryIndex.h"
#include "ArchiveFile.h"
#include "ChartSeries.h"
#include "LibrarySchema.h"
#include "SimulatedVisit.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <cstdio>
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

    // A compressed file (as downloads are kept) stays compressed in its copy.
    ArchiveFileContents later = *ReadArchiveFile(outside + QStringLiteral("/a.kvarc")).contents;
    later.downloadedAt = later.downloadedAt.addDays(1);
    later.image[100] = static_cast<char>(later.image[100] ^ 1);
    ASSERT_TRUE(
        WriteBytes(outside + QStringLiteral("/c.kvarc"), EncodeCompressedArchiveFile(later)));
    const IndexReport compressed = index.Import({outside + QStringLiteral("/c.kvarc")}, archives_);
    ASSERT_EQ(compressed.addedFiles.size(), 1);
    EXPECT_EQ(ReadBytes(compressed.addedFiles[0]), EncodeCompressedArchiveFile(later));
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

// Keeping files: every copy into the archives folder is a file of its own, and the index points
// at a file that is there.

// Every *.kvarc below folder, hidden ones too.
QStringList KeptFiles(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.kvarc")}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    return files;
}

TEST_F(LibraryIndexTest, ImportsAtOnceOfDownloadsOfOneSecondKeepEachInAFileOfItsOwn) {
    // Twelve different downloads of one controller, all made in the same second.
    const ArchiveFileContents visit =
        *ReadArchiveFile(Visit({.serial = 31, .at = QStringLiteral("2024-05-01T12:00")})).contents;
    const QString outside = dir_.filePath(QStringLiteral("usb-stick"));
    QStringList parts[4];
    for (int i = 0; i < 12; ++i) {
        ArchiveFileContents c = visit;
        c.image[40 + i] = static_cast<char>(c.image[40 + i] ^ 0x01);
        const QString file = outside + QStringLiteral("/%1.kvarc").arg(i);
        ASSERT_EQ(WriteArchiveFile(file, c), QString());
        parts[i % 4] << file;
    }
    ASSERT_TRUE(QDir(archives_).removeRecursively());
    {
        LibraryIndex index;
        ASSERT_EQ(index.Open(indexPath_), QString());
    }
    std::vector<std::thread> imports;
    int added[4] = {};
    for (int t = 0; t < 4; ++t)
        imports.emplace_back([&, t] {
            LibraryIndex index;
            if (index.Open(indexPath_).isEmpty())
                added[t] = index.Import(parts[t], archives_).added;
        });
    for (std::thread& t : imports)
        t.join();
    EXPECT_EQ(added[0] + added[1] + added[2] + added[3], 12);

    EXPECT_EQ(KeptFiles(archives_).size(), 12);
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    const auto visits = index.Visits(31);
    ASSERT_EQ(visits.size(), 12u);
    std::set<QString> files;
    for (const LibraryVisit& v : visits) {
        files.insert(v.file);
        const ArchiveFileReadResult read = ReadArchiveFile(v.file);
        ASSERT_TRUE(read.contents) << v.file.toStdString();
        EXPECT_EQ(ArchiveImageSha256(read.contents->image).toHex(), v.sha256.toHex())
            << "a row names another's file";
    }
    EXPECT_EQ(files.size(), 12u);
}

TEST_F(LibraryIndexTest, ImportingAKnownDownloadWhoseFileWasDeletedKeepsItAgain) {
    const QString outside = dir_.filePath(QStringLiteral("usb-stick/a.kvarc"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(outside).absolutePath()));
    ASSERT_TRUE(
        QFile::rename(Visit({.serial = 8, .at = QStringLiteral("2024-05-01T12:00")}), outside));
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    const IndexReport first = index.Import({outside}, archives_);
    ASSERT_EQ(first.addedFiles.size(), 1);
    ASSERT_TRUE(QFile::remove(first.addedFiles[0])); // deleted by hand

    const IndexReport again = index.Import({outside}, archives_);
    EXPECT_EQ(again.alreadyThere, 1);
    EXPECT_EQ(again.restored, 1);
    const auto visits = index.Visits(8);
    ASSERT_EQ(visits.size(), 1u);
    EXPECT_EQ(ReadBytes(visits[0].file), ReadBytes(outside));
    // Kept once: a third import finds it there.
    const IndexReport third = index.Import({outside}, archives_);
    EXPECT_EQ(third.restored, 0);
    EXPECT_EQ(KeptFiles(archives_).size(), 1);
}

TEST_F(LibraryIndexTest, DownloadsOfUnknownTimeAreKeptVisiblyAndFoundByTheRebuild) {
    ArchiveFileContents c =
        *ReadArchiveFile(Visit({.serial = 9, .at = QStringLiteral("2024-05-01T12:00")})).contents;
    ASSERT_TRUE(QDir(archives_).removeRecursively());
    c.downloadedAt = QDateTime();
    QString first, second;
    ASSERT_EQ(KeepArchiveFile(archives_, c, &first), QString());
    c.image[40] = static_cast<char>(c.image[40] ^ 0x01);
    ASSERT_EQ(KeepArchiveFile(archives_, c, &second), QString());
    EXPECT_EQ(QFileInfo(first).fileName(), QStringLiteral("unknown-time.kvarc"));
    EXPECT_EQ(QFileInfo(second).fileName(), QStringLiteral("unknown-time_2.kvarc"));
    // Earlier versions kept one as a hidden file: it is found too.
    c.image[41] = static_cast<char>(c.image[41] ^ 0x01);
    ASSERT_EQ(WriteArchiveFile(archives_ + QStringLiteral("/9/.kvarc"), c), QString());

    QString error;
    const IndexReport report = RebuildLibraryIndex(indexPath_, archives_, error);
    EXPECT_EQ(error, QString());
    EXPECT_EQ(report.added, 3);
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    const auto visits = index.Visits(9);
    ASSERT_EQ(visits.size(), 3u);
    for (const LibraryVisit& v : visits)
        EXPECT_FALSE(v.downloadedAt.isValid()) << "an unknown time shown as a date";
    const auto controllers = index.Controllers();
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(controllers[0].visits, 3);
}

// One history per serial number and channel count.

TEST_F(LibraryIndexTest, ASerialNumberWithAnotherChannelCountIsAControllerOfItsOwn) {
    const QString two = Visit({.serial = 500, .channels = 2, .at = QStringLiteral("2024-01-10")});
    const QString one = Visit({.serial = 500, .channels = 1, .at = QStringLiteral("2024-02-10")});
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    ASSERT_EQ(index.AddFile(two).outcome, AddOutcome::Added);
    ASSERT_EQ(index.AddFile(one).outcome, AddOutcome::Added);

    const auto controllers = index.Controllers();
    ASSERT_EQ(controllers.size(), 2u);
    const auto twoTimes = TimesOf(two), oneTimes = TimesOf(one);
    for (const LibraryController& c : controllers) {
        EXPECT_EQ(c.serial, 500);
        EXPECT_EQ(c.visits, 1);
        EXPECT_EQ(c.conflicts, 0) << "the histories were merged";
        EXPECT_EQ(c.lostSeconds, 0);
        const auto& times = c.channels == 2 ? twoTimes : oneTimes;
        qint64 records = 0;
        for (const auto& t : times)
            records += static_cast<qint64>(t.size());
        EXPECT_EQ(c.records, records) << c.channels << " channels";
    }
    const auto history1 = index.History(500, 1), history2 = index.History(500, 2);
    ASSERT_EQ(history1.size(), 1u);
    ASSERT_EQ(history2.size(), 2u);
    EXPECT_EQ(history1[0].time.size(), oneTimes[0].size());
    EXPECT_EQ(history2[1].time.size(), twoTimes[1].size());
    EXPECT_EQ(index.History(500).size(), 1u); // the newest visit's
    EXPECT_EQ(index.Visits(500, 1).size(), 1u);
    EXPECT_EQ(index.Visits(500).size(), 2u);
}

TEST_F(LibraryIndexTest, AnIndexOfTheFirstSchemaIsBroughtUpToDateWithItsHistoriesWhole) {
    const QStringList files{
        Visit({.serial = 500, .at = QStringLiteral("2024-01-10")}),
        Visit({.serial = 500, .at = QStringLiteral("2024-02-10")}),
        Visit({.serial = 600, .channels = 1, .at = QStringLiteral("2024-02-10")}),
        Visit({.serial = 500, .at = QStringLiteral("2024-03-10"), .historySeed = 77})}; // conflicts
    std::vector<LibraryController> current;
    {
        LibraryIndex index;
        ASSERT_EQ(index.Open(indexPath_), QString());
        for (const QString& file : files)
            ASSERT_EQ(index.AddFile(file).outcome, AddOutcome::Added);
        current = index.Controllers();
        ASSERT_EQ(current.size(), 2u);
    }
    {
        // The same index as the first schema held it (docs/library.md of that version).
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("first"));
        db.setDatabaseName(indexPath_);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        for (const char* sql :
             {"CREATE TABLE old_records(serial INTEGER NOT NULL, channel INTEGER NOT NULL, "
              "time INTEGER NOT NULL, data BLOB NOT NULL, visit_id INTEGER NOT NULL, "
              "PRIMARY KEY(serial, channel, time, data)) WITHOUT ROWID",
              "INSERT INTO old_records SELECT serial, channel, time, data, visit_id FROM records",
              "DROP TABLE records", "ALTER TABLE old_records RENAME TO records",
              "CREATE TABLE old_histories(serial INTEGER NOT NULL, channel INTEGER NOT NULL, "
              "records INTEGER NOT NULL, conflicts INTEGER NOT NULL, first INTEGER, last "
              "INTEGER, PRIMARY KEY(serial, channel)) WITHOUT ROWID",
              "INSERT INTO old_histories SELECT serial, channel, records, conflicts, first, "
              "last FROM histories",
              "DROP TABLE histories", "ALTER TABLE old_histories RENAME TO histories",
              "PRAGMA user_version = 1"})
            ASSERT_TRUE(q.exec(QString::fromLatin1(sql))) << sql;
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("first"));
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    const auto migrated = index.Controllers();
    ASSERT_EQ(migrated.size(), current.size());
    for (std::size_t i = 0; i < migrated.size(); ++i) {
        EXPECT_EQ(migrated[i].records, current[i].records) << i;
        EXPECT_EQ(migrated[i].conflicts, current[i].conflicts) << i;
        EXPECT_EQ(migrated[i].first, current[i].first) << i;
        EXPECT_EQ(migrated[i].last, current[i].last) << i;
        EXPECT_EQ(migrated[i].visits, current[i].visits) << i;
    }
    EXPECT_GT(current[0].conflicts, 0);
    EXPECT_EQ(index.History(500)[0].time.size(), index.History(500, 2)[0].time.size());
}

// Failures that name their cause.

// Fills the page in the middle of the file with garbage: the first pages stay sound.
bool DamageMiddlePage(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || f.size() < 64 * 4096)
        return false;
    return f.seek(f.size() / 2 / 4096 * 4096) && f.write(QByteArray(4096, 'G')) == 4096;
}

TEST_F(LibraryIndexTest, AnIndexDamagedBeyondItsFirstPagesIsNamedBeforeAnyCopyAndKeptByReindex) {
    for (const char* at : {"2024-01-10", "2024-04-10", "2024-07-10"})
        Visit({.at = QString::fromLatin1(at)});
    {
        LibraryIndex index;
        ASSERT_EQ(index.Open(indexPath_), QString());
        ASSERT_EQ(index.CatchUp(archives_).added, 3);
    }
    ASSERT_TRUE(DamageMiddlePage(indexPath_));
    const QByteArray damaged = ReadBytes(indexPath_);
    const QString outside = dir_.filePath(QStringLiteral("usb-stick/a.kvarc"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(outside).absolutePath()));
    ASSERT_TRUE(QFile::rename(Visit({.serial = 4, .at = QStringLiteral("2024-08-01")}), outside));
    const QStringList keptBefore = KeptFiles(archives_);
    {
        LibraryIndex index;
        ASSERT_EQ(index.Open(indexPath_), QString()); // its first pages are sound
        const IndexReport report = index.Import({outside}, archives_);
        ASSERT_EQ(report.refused.size(), 1u);
        EXPECT_TRUE(report.refused[0].cause.contains(QStringLiteral("индекс повреждён")));
        EXPECT_TRUE(report.refused[0].cause.contains(QStringLiteral("kv9000 --reindex")));
    }
    EXPECT_EQ(KeptFiles(archives_), keptBefore) << "copied before the failure";

    QString error;
    EXPECT_EQ(RebuildLibraryIndex(indexPath_, archives_, error).added, 3);
    EXPECT_EQ(error, QString());
    const QStringList kept =
        QDir(dir_.path()).entryList({QStringLiteral("library.sqlite.damaged-*")}, QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(ReadBytes(dir_.filePath(kept[0])), damaged);
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    EXPECT_EQ(index.CheckWhole(), QString());
}

TEST_F(LibraryIndexTest, OneRebuildAtATimeAndNoLogLeftBehind) {
    for (int month = 1; month <= 6; ++month)
        Visit({.at = QStringLiteral("2024-%1-01").arg(month, 2, 10, QLatin1Char('0'))});
    {
        // Another rebuild holds the lock.
        QLockFile other(indexPath_ + QStringLiteral(".rebuild.lock"));
        ASSERT_TRUE(other.tryLock(0));
        QString error;
        RebuildLibraryIndex(indexPath_, archives_, error);
        EXPECT_TRUE(error.contains(QStringLiteral("уже перестраивается"))) << error.toStdString();
        EXPECT_FALSE(QFileInfo::exists(indexPath_)) << "written while another rebuild ran";
    }
    QString errors[2];
    int added[2] = {};
    std::thread a([&] { added[0] = RebuildLibraryIndex(indexPath_, archives_, errors[0]).added; });
    std::thread b([&] { added[1] = RebuildLibraryIndex(indexPath_, archives_, errors[1]).added; });
    a.join();
    b.join();
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(errors[i].isEmpty() ? added[i] == 6
                                        : errors[i].contains(QStringLiteral("уже перестраивается")))
            << errors[i].toStdString() << " " << added[i];
    EXPECT_EQ(QDir(dir_.path()).entryList({QStringLiteral("library.sqlite*")}, QDir::Files),
              QStringList{QStringLiteral("library.sqlite")});
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    EXPECT_EQ(index.Controllers()[0].visits, 6);
}

TEST_F(LibraryIndexTest, AFullDiskOnImportSaysSoAndTakesTheCopyBack) {
    const QString outside = dir_.filePath(QStringLiteral("usb-stick/a.kvarc"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(outside).absolutePath()));
    ASSERT_TRUE(QFile::rename(Visit({.serial = 5, .at = QStringLiteral("2024-08-01")}), outside));
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    QSqlQuery q(QSqlDatabase::database(index.ConnectionName()));
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA page_count")) && q.next());
    ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(q.value(0).toInt() + 5)));
    const IndexReport report = index.Import({outside}, archives_);
    ASSERT_EQ(report.refused.size(), 1u);
    EXPECT_TRUE(report.refused[0].cause.contains(QStringLiteral("диск заполнен")))
        << report.refused[0].cause.toStdString();
    EXPECT_EQ(KeptFiles(archives_), QStringList());
    // Not "none": the list says it could not be read when the index is gone.
    const LibraryIndex closed;
    EXPECT_TRUE(closed.Controllers().Failed());
}

TEST_F(LibraryIndexTest, AFileNameThatIsNotUtf8IsRefusedWithItsCause) {
#ifdef Q_OS_WIN
    GTEST_SKIP() << "Windows file names are never other bytes than UTF-16";
#else
    const QString outside = dir_.filePath(QStringLiteral("usb-stick"));
    ASSERT_TRUE(QDir().mkpath(outside));
    const QByteArray good = ReadBytes(Visit({.serial = 6, .at = QStringLiteral("2024-08-01")}));
    const QByteArray name = QFile::encodeName(outside) + "/\xcf\xf0\xee\xe1\xe0.kvarc"; // cp1251
    std::FILE* f = std::fopen(name.constData(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(good.constData(), 1, static_cast<std::size_t>(good.size()), f),
              static_cast<std::size_t>(good.size()));
    std::fclose(f);
    LibraryIndex index;
    ASSERT_EQ(index.Open(indexPath_), QString());
    const IndexReport report = index.Import({outside}, archives_);
    std::remove(name.constData()); // QTemporaryDir cannot name it either
    ASSERT_EQ(report.refused.size(), 1u);
    EXPECT_TRUE(report.refused[0].cause.contains(QStringLiteral("UTF-8")))
        << report.refused[0].cause.toStdString();
    EXPECT_TRUE(report.refused[0].path.endsWith(QStringLiteral("/\\xcf\\xf0\\xee\\xe1\\xe0.kvarc")))
        << report.refused[0].path.toStdString();
#endif
}

} // namespace
