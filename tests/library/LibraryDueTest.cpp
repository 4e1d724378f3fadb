// When each controller starts to lose records nobody has read, told from its newest kept download
// and checked against what the simulated controller's ring really keeps at later visits.

#include "LibraryDue.h"
#include "SimulatedVisit.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTemporaryDir>

#include <map>

namespace {

struct DueCase {
    int channels;
    const char* at; // the visit the moment is told from
    bool wrapped;   // whether its ring has come round once (the history starts 2020-01-01)
};

class LibraryDueTest : public ::testing::TestWithParam<DueCase> {};

QString At(qint64 recordTime) {
    return QDateTime::fromSecsSinceEpoch(recordTime, Qt::UTC).toString(Qt::ISODate).left(16);
}

// The controller visited at `at`, then once more at `later`, in a library of its own: the days
// the later visit finds overwritten.
qint64 LostByLaterVisit(const DueCase& c, const QString& later, const QTemporaryDir& dir) {
    const QString archives = dir.filePath(later);
    QString error;
    for (const QString& at : {QString::fromLatin1(c.at), later})
        EXPECT_FALSE(
            KeepSimulatedVisit({.serial = 500, .channels = c.channels, .at = at}, archives, error)
                .isEmpty())
            << error.toStdString();
    LibraryIndex index;
    EXPECT_EQ(index.Open(archives + QStringLiteral("/library.sqlite")), QString());
    index.CatchUp(archives);
    const auto visits = index.Visits(500, c.channels);
    return visits.size() == 2 ? visits.back().lostSeconds : -1;
}

} // namespace

// Records start to be lost within the sector the controller erases ahead of the moment told, and
// not before: a visit three days earlier finds nothing overwritten, one three days later does.
TEST_P(LibraryDueTest, TheMomentToldIsWhenALaterVisitStartsToFindRecordsLost) {
    const DueCase c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString archives = dir.filePath(QStringLiteral("first"));
    QString error;
    ASSERT_FALSE(
        KeepSimulatedVisit({.serial = 500, .channels = c.channels, .at = QString::fromLatin1(c.at)},
                           archives, error)
            .isEmpty())
        << error.toStdString();
    LibraryIndex index;
    ASSERT_EQ(index.Open(archives + QStringLiteral("/library.sqlite")), QString());
    index.CatchUp(archives);
    const auto due = ControllersDue(index);
    ASSERT_FALSE(due.Failed()) << due.error.toStdString();
    ASSERT_EQ(due.size(), 1u);
    ASSERT_TRUE(due[0].overwriteFrom && due[0].lastRecord) << due[0].problem.toStdString();
    const qint64 from = *due[0].overwriteFrom;
    // A ring not yet round once still keeps a whole lap ahead: no run of fresh memory shortens it.
    const double lap = c.channels == 2 ? 4220 / 48.0 : 8444 / 48.0;
    EXPECT_NEAR(static_cast<double>(from - *due[0].lastRecord) / 86400.0, lap,
                c.wrapped ? 2.7 : 0.01);

    constexpr qint64 kMargin = 3 * 86400;
    EXPECT_EQ(LostByLaterVisit(c, At(from - kMargin), dir), 0);
    EXPECT_GT(LostByLaterVisit(c, At(from + kMargin), dir), 0);
}

INSTANTIATE_TEST_SUITE_P(OneAndTwoChannelsWrappedOrNot, LibraryDueTest,
                         ::testing::Values(DueCase{2, "2024-03-01T10:00", true},
                                           DueCase{2, "2020-02-01T00:00", false},
                                           DueCase{1, "2024-03-01T10:17", true},
                                           DueCase{1, "2020-03-01T00:00", false}));

// Each controller's moment comes from its own newest visit: visits kept out of their order, a
// serial number with two channel counts (two controllers) and one visited once, all in one index.
TEST(LibraryDue, EachControllerIsToldFromItsOwnNewestVisit) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString archives = dir.filePath(QStringLiteral("archives"));
    const SimulatedVisit visits[] = {
        {.serial = 600, .channels = 2, .at = QStringLiteral("2024-03-01T10:00")},
        {.serial = 600, .channels = 2, .at = QStringLiteral("2024-05-01T10:00")},
        {.serial = 600, .channels = 2, .at = QStringLiteral("2024-04-01T10:00")},
        {.serial = 600, .channels = 1, .at = QStringLiteral("2023-06-01T10:00")},
        {.serial = 601, .channels = 2, .at = QStringLiteral("2024-02-01T10:00")},
    };
    QString error;
    for (const SimulatedVisit& v : visits)
        ASSERT_FALSE(KeepSimulatedVisit(v, archives, error).isEmpty()) << error.toStdString();
    LibraryIndex index;
    ASSERT_EQ(index.Open(dir.filePath(QStringLiteral("library.sqlite"))), QString());
    index.CatchUp(archives);
    const auto due = ControllersDue(index);
    ASSERT_FALSE(due.Failed()) << due.error.toStdString();
    ASSERT_EQ(due.size(), 3u);
    const auto newestRecord = [](const char* at) {
        return QDateTime::fromString(QString::fromLatin1(at), Qt::ISODate).toSecsSinceEpoch();
    };
    std::map<std::pair<int, int>, qint64> told;
    for (const ControllerDue& d : due) {
        ASSERT_TRUE(d.lastRecord && d.overwriteFrom) << d.problem.toStdString();
        const auto all = index.Visits(d.controller.serial, d.controller.channels);
        ASSERT_FALSE(all.empty());
        EXPECT_EQ(d.lastRecord, all.back().newest);
        told[{d.controller.serial, d.controller.channels}] = *d.lastRecord;
    }
    // The newest record of each newest visit lies in the half hour before it.
    for (const auto& [key, at] :
         std::map<std::pair<int, int>, const char*>{{{600, 2}, "2024-05-01T10:00:00Z"},
                                                    {{600, 1}, "2023-06-01T10:00:00Z"},
                                                    {{601, 2}, "2024-02-01T10:00:00Z"}}) {
        EXPECT_LE(told[key], newestRecord(at)) << key.first << "/" << key.second;
        EXPECT_GT(told[key], newestRecord(at) - 1800) << key.first << "/" << key.second;
    }
}
