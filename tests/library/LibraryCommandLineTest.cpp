// The library's command-line answers, through the real program on a data folder of its own.

#include "ProgramRun.h"
#include "SimulatedVisit.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <tuple>

namespace {

using Answer = ProgramRun;

class LibraryCommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        data_ = dir_.filePath(QStringLiteral("data"));
        incoming_ = dir_.filePath(QStringLiteral("incoming"));
    }

    Answer Kv9000(const QStringList& args) {
        QProcessEnvironment env = ProgramEnvironment(); // answered without a display
        env.insert(QStringLiteral("XDG_DATA_HOME"), data_);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir_.filePath(QStringLiteral("config")));
        return RunProgram(args, env);
    }

    QString IndexPath() const { return data_ + QStringLiteral("/kv9000/library.sqlite"); }

    QTemporaryDir dir_;
    QString data_, incoming_;
};

TEST_F(LibraryCommandLineTest, TwoControllersVisitedThreeTimesEachAreListedAfterImport) {
    for (int serial : {101, 202})
        for (const char* at : {"2024-01-26T09:00", "2024-02-26T09:00", "2024-03-26T09:00"}) {
            QString error;
            ASSERT_FALSE(KeepSimulatedVisit({.serial = serial,
                                             .channels = serial == 101 ? 2 : 1,
                                             .at = QString::fromLatin1(at),
                                             .comment = QStringLiteral("ЦТП №%1").arg(serial)},
                                            incoming_, error)
                             .isEmpty())
                << error.toStdString();
        }
    const Answer import = Kv9000({QStringLiteral("--library-import"), incoming_});
    EXPECT_EQ(import.exitCode, 0) << import.err.toStdString();
    EXPECT_EQ(import.out, QStringLiteral("добавлено: 6, уже были: 0, отклонено: 0\n"));
    // The files were copied into the archives folder, one folder per serial number.
    EXPECT_EQ(QDir(data_ + QStringLiteral("/kv9000/archives/101")).entryList(QDir::Files).size(),
              3);

    const Answer list = Kv9000({QStringLiteral("--library")});
    EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
    const QStringList lines = list.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << list.out.toStdString();
    EXPECT_EQ(lines[0],
              QStringLiteral(
                  "serial\tplace\tchannels\tvisits\tfirst\tlast\trecords\tlost_days\tconflicts"));
    const QStringList two = lines[1].split(u'\t');
    ASSERT_EQ(two.size(), 9);
    EXPECT_EQ(two[0], QStringLiteral("101"));
    EXPECT_EQ(two[1], QStringLiteral("ЦТП №101"));
    EXPECT_EQ(two[2], QStringLiteral("2"));
    EXPECT_EQ(two[3], QStringLiteral("3"));
    EXPECT_EQ(two[5], QStringLiteral("2024-03-26 09:00:00"));
    EXPECT_EQ(two[7], QStringLiteral("0.0"));
    EXPECT_EQ(two[8], QStringLiteral("0"));
    const QStringList one = lines[2].split(u'\t');
    ASSERT_EQ(one.size(), 9);
    EXPECT_EQ(one[0], QStringLiteral("202"));
    EXPECT_EQ(one[2], QStringLiteral("1"));
    EXPECT_EQ(one[3], QStringLiteral("3"));
    // One channel keeps 8444 half hours (176 days, less the erased sector): the first visit
    // reached back to early August.
    EXPECT_TRUE(one[4].startsWith(QStringLiteral("2023-08-0"))) << one[4].toStdString();
    // Two months of half hours come on top of the first visit's ring, less power cuts and the
    // erased sector.
    EXPECT_GT(one[6].toInt(), 8444 - 128 + 2 * 29 * 48 - 100);

    // Importing again adds nothing; a damaged file is refused with its cause, exit 1.
    QFile bad(incoming_ + QStringLiteral("/bad.kvarc"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("KVARC\r\n\x1a");
    bad.close();
    const Answer again = Kv9000({QStringLiteral("--library-import"), incoming_});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.out, QStringLiteral("добавлено: 0, уже были: 6, отклонено: 1\n"));
    EXPECT_TRUE(again.err.contains(QStringLiteral("bad.kvarc"))) << again.err.toStdString();
}

TEST_F(LibraryCommandLineTest, ADamagedIndexIsRefusedAndReindexRebuildsItFromTheFiles) {
    QString error;
    ASSERT_FALSE(KeepSimulatedVisit({.at = QStringLiteral("2024-01-26T09:00")},
                                    data_ + QStringLiteral("/kv9000/archives"), error)
                     .isEmpty());
    const QByteArray garbage(4096, 'x');
    QFile index(IndexPath());
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write(garbage);
    index.close();

    const Answer refused = Kv9000({QStringLiteral("--library")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("повреждён"))) << refused.err.toStdString();
    EXPECT_TRUE(refused.out.isEmpty());

    const Answer rebuilt = Kv9000({QStringLiteral("--reindex")});
    EXPECT_EQ(rebuilt.exitCode, 0) << rebuilt.err.toStdString();
    const Answer list = Kv9000({QStringLiteral("--library")});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out.count(u'\n'), 2) << list.out.toStdString();
    EXPECT_TRUE(list.out.contains(QStringLiteral("\n12345\tКотельная\t2\t1\t")));
}

} // namespace

// kv9000 --due: one line per controller, the one that loses unread records first at the top, the
// days counted from the date asked; a date past a controller's moment gives negative days.
TEST_F(LibraryCommandLineTest, DueListsTheMostUrgentControllerFirstAsOfTheDateAsked) {
    for (const auto& [serial, channels, at] :
         {std::tuple{301, 1, "2024-01-10T09:00"}, std::tuple{302, 2, "2024-03-01T09:00"},
          std::tuple{303, 2, "2024-02-01T09:00"}}) {
        QString error;
        ASSERT_FALSE(KeepSimulatedVisit(
                         {.serial = serial, .channels = channels, .at = QString::fromLatin1(at)},
                         incoming_, error)
                         .isEmpty())
            << error.toStdString();
    }
    ASSERT_EQ(Kv9000({QStringLiteral("--library-import"), incoming_}).exitCode, 0);

    for (const char* asOf : {"2024-04-01", "2024-05-20"}) {
        const Answer due =
            Kv9000({QStringLiteral("--due"), QStringLiteral("--at"), QString::fromLatin1(asOf)});
        EXPECT_EQ(due.exitCode, 0) << due.err.toStdString();
        EXPECT_EQ(due.err, QString());
        const QStringList lines = due.out.split(u'\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 4) << due.out.toStdString();
        EXPECT_EQ(lines[0], QStringLiteral(
                                "serial\tplace\tchannels\tlast_record\toverwrite_from\tdays_left"));
        QStringList order;
        for (int i = 1; i < 4; ++i) {
            const QStringList f = lines[i].split(u'\t');
            ASSERT_EQ(f.size(), 6) << lines[i].toStdString();
            order << f[0];
            QDateTime from = QDateTime::fromString(f[4], QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            ASSERT_TRUE(from.isValid()) << f[4].toStdString();
            from.setTimeSpec(Qt::UTC);
            // Days from midnight of the date asked, one decimal.
            const QDateTime midnight(QDate::fromString(QString::fromLatin1(asOf), Qt::ISODate),
                                     QTime(0, 0), Qt::UTC);
            const double days = static_cast<double>(midnight.secsTo(from)) / 86400.0;
            EXPECT_EQ(f[5], QString::number(days, 'f', 1));
        }
        // Two channels keep half the days of one: the two-channel controller visited first goes
        // first, the one-channel controller visited earliest of all last.
        EXPECT_EQ(order, QStringList({"303", "302", "301"}));
        const bool late = QByteArray(asOf) == "2024-05-20";
        EXPECT_EQ(lines[1].split(u'\t')[5].startsWith(u'-'), late) << lines[1].toStdString();
        EXPECT_EQ(lines[2].split(u'\t')[3], QStringLiteral("2024-03-01 09:00:00"));
    }
}
