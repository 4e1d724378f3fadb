// Reading only the new records against kv9000-sim over a real pseudo-terminal: every kept image
// is the simulator's own memory at that moment, whether the read took only what changed or fell
// back to the whole archive, and every doubt falls back with its cause.

#include "NewRecordsRead.h"
#include "ArchiveFile.h"
#include "MappedPorts.h"
#include "Port.h"
#include "PortMap.h"
#include "ServiceSession.h"
#include "SimHistory.h"
#include "SimProcess.h"
#include "TestQtApp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QDateTime kFirstVisit(QDate(2025, 1, 1), QTime(9, 0), Qt::UTC);
constexpr int kRingDays1 = 8444 / 48, kRingDays2 = 4220 / 48; // records every 30 minutes

struct Controller {
    int channels = 2;
    int seed = 7;
    QString id; // empty: the simulator's default for the channel count
    int clockBackDays = 0;
};

class NewRecordsReadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { EnsureQtCoreApp(); }

    QString Archives() const { return dir_.filePath(QStringLiteral("archives")); }

    // The controller's memory at `at`, as the simulator holds it.
    static QByteArray Memory(const Controller& c, const QDateTime& at) {
        return sim::HistoryArchiveAt(c.channels, static_cast<std::uint32_t>(c.seed), at,
                                     c.clockBackDays);
    }

    // Keeps an earlier download of serial 4321 made at `at` as a file, without reading it; the
    // computer's clock said keptAt then (a day after `at` when not given).
    void KeepEarlier(const Controller& c, const QDateTime& at, QByteArray image = {},
                     QDateTime keptAt = {}) {
        ArchiveFileContents contents;
        contents.channelCount = c.channels;
        contents.serial = 4321;
        contents.address = 1;
        contents.identification =
            c.id.isEmpty() ? (c.channels == 1 ? QStringLiteral("Лорк КB-9000Л вер. 1.07")
                                              : QStringLiteral("Лорк КB-9000Л-2К вер. 1.07"))
                           : c.id;
        contents.downloadedAt = keptAt.isValid() ? keptAt : at.addDays(1);
        contents.image = image.isEmpty() ? Memory(c, at) : image;
        QString path;
        ASSERT_EQ(KeepArchiveFile(Archives(), contents, &path), QString());
    }

    // Visits the simulator of c at `at` (unpaced), reads only the new records, keeps the read as
    // made at `at` (the test's time, never this machine's clock).
    NewRecordsControllerRead Visit(const Controller& c, const QDateTime& at, QStringList extra = {},
                                   ArchiveFileContents* kept = nullptr) {
        QStringList args{"--channels",     QString::number(c.channels),
                         "--serial",       "4321",
                         "--history-seed", QString::number(c.seed),
                         "--at",           at.toString(QStringLiteral("yyyy-MM-ddTHH:mm"))};
        if (!c.id.isEmpty())
            args << "--id" << c.id;
        if (c.clockBackDays > 0)
            args << "--clock-back" << QString::number(c.clockBackDays);
        SimProcess sim(args + extra);
        EXPECT_TRUE(sim.Running());
        FrameLink link(MappedPorts({{1, sim.Device()}}));
        NewRecordsControllerRead r =
            ReadControllerNewRecords(link, ResolvePort(1, link.Ports()), 115200, Archives());
        link.CloseCOM();
        if (r.read.outcome != ControllerReadOutcome::Completed)
            return r;
        ServiceSession session(Archives());
        QString path, error = QStringLiteral("not written");
        QObject::connect(&session, &ServiceSession::SaveFinished, &session,
                         [&](const QString& p, const QString& e) { path = p, error = e; });
        session.KeepRead(r.read, QStringLiteral("COM1"), at,
                         r.wholeReadCause.isEmpty() ? std::optional(r.blocksRead) : std::nullopt);
        session.WaitForSaves();
        QCoreApplication::sendPostedEvents(&session, QEvent::MetaCall);
        EXPECT_EQ(error, QString());
        const ArchiveFileReadResult file = ReadArchiveFile(path);
        EXPECT_TRUE(file.contents) << file.error.toStdString();
        if (file.contents && kept)
            *kept = *file.contents;
        return r;
    }

    QTemporaryDir dir_;
};

// At least 200 revisits of controllers whose lives go on between them: gaps from 0 to 200 days,
// one and two channels, power cuts (the history's own), a clock set back, a controller replaced
// under the same serial number. Every kept file holds the simulator's memory at that moment and
// says how it was read; what must be a whole read is one, and a plain revisit reads only the new.
TEST_F(NewRecordsReadTest, EveryRevisitKeepsTheControllersMemory) {
    QRandomGenerator random(29);
    Controller c;
    QDateTime at = kFirstVisit;
    int onlyNew = 0, whole = 0;
    for (int visit = 0; visit < 200; ++visit) {
        const Controller before = c;
        const int kind = random.bounded(40);
        // Mostly short gaps, as a nightly or monthly collection makes them; now and then long.
        const int days = kind == 0  ? random.bounded(201)
                         : kind < 4 ? random.bounded(31)
                                    : random.bounded(3);
        at = at.addSecs(qint64{days} * 86400 + random.bounded(48) * 1800 + random.bounded(1800));
        c.clockBackDays = kind == 4 ? 1 + random.bounded(10) : 0;
        if (kind == 5) { // replaced: another history, sometimes another model
            c.seed = 100 + visit;
            c.channels = 1 + random.bounded(2);
        }
        SCOPED_TRACE(QStringLiteral("visit %1 at %2, gap %3 d, clock back %4 d, seed %5, %6 ch")
                         .arg(visit)
                         .arg(at.toString(Qt::ISODate))
                         .arg(days)
                         .arg(c.clockBackDays)
                         .arg(c.seed)
                         .arg(c.channels)
                         .toStdString());
        ArchiveFileContents kept;
        const NewRecordsControllerRead r = Visit(c, at, {}, &kept);
        ASSERT_EQ(r.read.outcome, ControllerReadOutcome::Completed);
        ASSERT_TRUE(kept.image == Memory(c, at));
        EXPECT_EQ(kept.blocksRead.has_value(), r.wholeReadCause.isEmpty());
        if (r.wholeReadCause.isEmpty()) {
            ++onlyNew;
            EXPECT_LT(*kept.blocksRead, 8448);
        } else {
            ++whole;
            EXPECT_EQ(r.blocksRead, 8448);
        }
        const int ring = c.channels == 1 ? kRingDays1 : kRingDays2;
        const bool mustBeWhole = visit == 0 || before.clockBackDays > 0 || c.clockBackDays > 0 ||
                                 c.seed != before.seed || days > ring;
        if (mustBeWhole && visit > 0 && before.clockBackDays == 0) {
            EXPECT_FALSE(r.wholeReadCause.isEmpty());
        }
        if (!mustBeWhole && days + 2 < ring) {
            EXPECT_EQ(r.wholeReadCause, QString());
        }
    }
    EXPECT_GT(onlyNew, 150);
    EXPECT_GT(whole, 5);
}

// A revisit starts from the download that holds the controller's newest memory, whatever this
// computer's clock said when each was kept: eleven downloads kept in one second (named "_2" to
// "_11"; by name "_9" came last), and a download kept after the computer's clock was set back
// half a year (by name the oldest). Either wrong start is more than the ring before the visit.
TEST_F(NewRecordsReadTest, StartsFromTheControllersNewestMemoryWhateverTheComputersClockSaid) {
    const Controller c;
    const QDateTime visit = kFirstVisit.addDays(101);
    const QDateTime oneSecond(QDate(2025, 4, 1), QTime(8, 0, 5), Qt::UTC);
    for (int i = 0; i < 11; ++i)
        KeepEarlier(c, i < 10 ? kFirstVisit.addDays(i) : kFirstVisit.addDays(100), {}, oneSecond);
    ASSERT_TRUE(QFileInfo::exists(
        QDir(Archives()).filePath(QStringLiteral("4321/2025-04-01_08-00-05_11.kvarc"))));

    ArchiveFileContents kept;
    NewRecordsControllerRead r = Visit(c, visit, {}, &kept);
    ASSERT_EQ(r.read.outcome, ControllerReadOutcome::Completed);
    EXPECT_TRUE(r.wholeReadCause.isEmpty()) << r.wholeReadCause.toStdString();
    EXPECT_LT(r.blocksRead, 1000);
    EXPECT_TRUE(kept.image == Memory(c, visit));

    QDir(Archives()).removeRecursively();
    KeepEarlier(c, kFirstVisit, {}, QDateTime(QDate(2025, 6, 1), QTime(9, 0), Qt::UTC));
    KeepEarlier(c, kFirstVisit.addDays(100), {},
                QDateTime(QDate(2024, 12, 1), QTime(9, 0), Qt::UTC));
    r = Visit(c, visit, {}, &kept);
    ASSERT_EQ(r.read.outcome, ControllerReadOutcome::Completed);
    EXPECT_TRUE(r.wholeReadCause.isEmpty()) << r.wholeReadCause.toStdString();
    EXPECT_LT(r.blocksRead, 1000);
    EXPECT_TRUE(kept.image == Memory(c, visit));
}

// Each doubt reads the whole archive, names itself, and keeps the controller's memory; a read
// that fails midway gives nothing.
TEST_F(NewRecordsReadTest, EveryDoubtReadsTheWholeArchive) {
    const QDateTime visit = kFirstVisit.addDays(30);
    const Controller two, one{1, 7, {}, 0};
    Controller replaced = two, renamed = two, setBack = two;
    replaced.seed = 8;
    renamed.id = QStringLiteral("Лорк КB-9000Л-2К вер. 1.08");
    setBack.clockBackDays = 3;
    // The record before the earlier newest one, which a revisit checks, altered in the file.
    QByteArray touched = Memory(two, kFirstVisit);
    const qint64 written = sim::HistoryStart().secsTo(kFirstVisit) / 1800 + 1;
    touched[((written - 2) % 4220) * 32 + 7] ^= 0x01;
    const struct {
        const char* name;
        Controller earlier, now;
        QDateTime earlierAt;
        QByteArray earlierImage;
        const char* cause;
    } cases[] = {
        {"no earlier download", two, two, {}, {}, "нет прежнего полного чтения"},
        {"another channel count", one, two, kFirstVisit, {}, "другое число каналов"},
        {"another identification", two, renamed, kFirstVisit, {}, "другая идентификация"},
        {"a replaced controller", two, replaced, kFirstVisit, {}, "другой регулятор"},
        {"the clock set back", two, setBack, kFirstVisit, {}, "часы регулятора"},
        {"a gap longer than the ring", two, two, kFirstVisit.addDays(-100), {}, "перерыв"},
        {"a checked block that differs", two, two, kFirstVisit, touched, "не совпадает"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        QDir(Archives()).removeRecursively();
        if (t.earlierAt.isValid())
            KeepEarlier(t.earlier, t.earlierAt, t.earlierImage);
        ArchiveFileContents kept;
        const NewRecordsControllerRead r = Visit(t.now, visit, {}, &kept);
        ASSERT_EQ(r.read.outcome, ControllerReadOutcome::Completed);
        EXPECT_TRUE(r.wholeReadCause.contains(QString::fromUtf8(t.cause)))
            << r.wholeReadCause.toStdString();
        EXPECT_EQ(r.blocksRead, 8448);
        EXPECT_FALSE(kept.blocksRead);
        EXPECT_TRUE(kept.image == Memory(t.now, visit));
    }

    // A line that goes away in the middle of the new records keeps nothing.
    QDir(Archives()).removeRecursively();
    KeepEarlier(two, kFirstVisit);
    const NewRecordsControllerRead lost = Visit(two, visit, {"--die-after", "500"});
    EXPECT_EQ(lost.read.outcome, ControllerReadOutcome::PortLost);
    EXPECT_TRUE(lost.read.download.image.isEmpty());
    EXPECT_LT(lost.blocksRead, 8448);
}

} // namespace
