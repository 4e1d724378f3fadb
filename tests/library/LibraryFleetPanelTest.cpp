// The library window's fleet panel on its own: what it takes from its window (the library's days
// left) and what it tells it (its note, a list with nothing to collect), with no controller to
// read.

#include "LibraryFleetPanel.h"
#include "FleetTable.h"
#include "LibraryDue.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>

namespace {

constexpr int kDaysColumn = 5;

class LibraryFleetPanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        options_.listPath = dir_.filePath(QStringLiteral("fleet.tsv"));
        options_.places.stateFolder = dir_.filePath(QStringLiteral("state"));
    }

    void WriteList(const QStringList& lines) {
        QFile file(options_.listPath);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            (QStringList{QStringLiteral("port\taddress\tname")} + lines).join(u'\n').toUtf8());
    }

    // The last run kept: one controller of the list read whole, with its serial number.
    void KeepRun(const QString& port, std::uint16_t serial) {
        FleetResult read;
        read.entry = {2, port, 1, QStringLiteral("Школа")};
        read.outcome = FleetOutcome::Whole;
        read.serial = serial;
        ASSERT_TRUE(QDir().mkpath(options_.places.stateFolder));
        QFile file(KeptRunPath(options_.places.stateFolder));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(FormatFleetTable({read}, true).toUtf8());
    }

    static QString Cell(const LibraryFleetPanel& panel, int row, int column) {
        return panel.Fleet()->model()->index(row, column).data().toString();
    }

    QTemporaryDir dir_;
    LibraryFleetOptions options_;
};

TEST_F(LibraryFleetPanelTest, WithoutAListOrAServerItIsHiddenAndCollectsNothing) {
    options_.listPath.clear();
    LibraryFleetPanel panel(options_);
    EXPECT_TRUE(panel.isHidden());
    EXPECT_FALSE(panel.CollectButton()->isEnabled());
    EXPECT_EQ(panel.Fleet()->model()->rowCount(), 0);
    EXPECT_TRUE(panel.Note().isEmpty());
}

// A row of the kept run without days of its own takes the library's by its serial number; a
// controller the run never read has none. The list's skipped line is the panel's note.
TEST_F(LibraryFleetPanelTest, KeptRowsTakeTheLibrarysDaysLeftAndSkippedLinesAreItsNote) {
    const QString school = QStringLiteral("tcp://127.0.0.1:4001");
    const QString bath = QStringLiteral("tcp://127.0.0.1:4002");
    WriteList({school + QStringLiteral("\t1\tШкола"), bath + QStringLiteral("\t1\tБаня"),
               QStringLiteral("COM3\tпять\tплохой адрес")});
    KeepRun(school, 512);
    LibraryFleetPanel panel(options_);
    panel.ShowFleet();
    EXPECT_FALSE(panel.isHidden());
    EXPECT_TRUE(panel.CollectButton()->isEnabled());
    EXPECT_TRUE(panel.Note().contains(QStringLiteral("строка пропущена")))
        << panel.Note().toStdString();
    ASSERT_EQ(panel.Fleet()->model()->rowCount(), 2);
    EXPECT_EQ(Cell(panel, 0, 0), school);
    EXPECT_EQ(Cell(panel, 0, 4), QStringLiteral("512"));
    EXPECT_TRUE(Cell(panel, 0, kDaysColumn).isEmpty()); // no library yet

    constexpr qint64 kDay = 24 * 3600;
    panel.SetDueBySerial({{512, RecordTimeNow() + 30 * kDay}, {77, RecordTimeNow() + kDay}});
    panel.ShowFleet();
    ASSERT_EQ(panel.Fleet()->model()->rowCount(), 2);
    const double days = Cell(panel, 0, kDaysColumn).toDouble();
    EXPECT_GT(days, 29.0);
    EXPECT_LE(days, 30.0);
    EXPECT_EQ(Cell(panel, 1, 0), bath);
    EXPECT_TRUE(Cell(panel, 1, kDaysColumn).isEmpty());
}

// A list without a controller: "Собрать сейчас" starts nothing, and the window is told to read
// the library again, not that a collection ended.
TEST_F(LibraryFleetPanelTest, AListWithNothingToCollectTellsTheWindowAndStartsNothing) {
    WriteList({QStringLiteral("COM3\tпять\tплохой адрес")});
    LibraryFleetPanel panel(options_);
    EXPECT_FALSE(panel.CollectButton()->isEnabled());
    QSignalSpy changed(&panel, &LibraryFleetPanel::FleetChanged);
    QSignalSpy done(&panel, &LibraryFleetPanel::CollectionDone);
    panel.CollectFleet();
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(done.size(), 0);
    EXPECT_FALSE(panel.Collecting());
    EXPECT_FALSE(QDir(options_.places.stateFolder).exists());
}

} // namespace
