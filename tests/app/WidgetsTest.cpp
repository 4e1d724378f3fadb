// The window's own controls: the spin edit's range rules, the grid over its text table.

#include "SpinEdit.h"
#include "StringGrid.h"
#include "WindowTestSupport.h"

#include <QAbstractButton>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class SpinEditTest : public ::testing::Test {
protected:
    SpinEditTest() {
        EnsureWidgetApp();
        edit_.setRange(1, 127);
        edit_.setValue(1);
    }
    // Types text into the field as the user does, then leaves it.
    void TypeAndLeave(const QString& text) {
        edit_.Editor()->selectAll();
        QTest::keyClicks(edit_.Editor(), text);
        emit edit_.editingFinished();
    }
    TSpinEdit edit_;
};

TEST_F(SpinEditTest, SetValuesArePulledToTheNearestEnd) {
    edit_.setValue(200);
    EXPECT_EQ(edit_.value(), 127);
    edit_.setValue(0);
    EXPECT_EQ(edit_.value(), 1);
    edit_.setValue(44);
    EXPECT_EQ(edit_.value(), 44);
}

TEST_F(SpinEditTest, TypedValuesArePulledIntoTheRangeWhenTheFieldIsLeft) {
    TypeAndLeave("300");
    EXPECT_EQ(edit_.value(), 127);
    EXPECT_EQ(edit_.Editor()->text(), "127");
    TypeAndLeave("-5");
    EXPECT_EQ(edit_.value(), 1);
    EXPECT_EQ(edit_.Editor()->text(), "1");
}

TEST_F(SpinEditTest, TextThatIsNotANumberReadsAsTheLowerEnd) {
    edit_.setValue(50);
    edit_.Editor()->setText("");
    EXPECT_EQ(edit_.Value(), 1);
    edit_.Editor()->setText("-");
    emit edit_.editingFinished();
    EXPECT_EQ(edit_.value(), 1);
    // Letters cannot be typed at all.
    edit_.setValue(50);
    edit_.Editor()->selectAll();
    QTest::keyClicks(edit_.Editor(), "abc");
    EXPECT_EQ(edit_.Value(), 50);
}

TEST_F(SpinEditTest, DoubleClickIsReportedAlsoWhenReadOnly) {
    edit_.setReadOnly(true);
    QSignalSpy spy(&edit_, &TSpinEdit::doubleClicked);
    QTest::mouseDClick(edit_.Editor(), Qt::LeftButton);
    EXPECT_EQ(spy.count(), 1);
    // Read-only means the user cannot type.
    edit_.Editor()->selectAll();
    QTest::keyClicks(edit_.Editor(), "99");
    emit edit_.editingFinished();
    EXPECT_EQ(edit_.value(), 1);
}

class StringGridTest : public ::testing::Test {
protected:
    StringGridTest() : grid_(4, 5, {37, 50, 47, 37}, 16) {}
    QVariant Shown(int col, int row) const {
        // Row 0 and column 0 are the view's fixed headings; the rest are its cells.
        if (row == 0)
            return grid_.model()->headerData(col - 1, Qt::Horizontal, Qt::DisplayRole);
        if (col == 0)
            return grid_.model()->headerData(row - 1, Qt::Vertical, Qt::DisplayRole);
        return grid_.model()->index(row - 1, col - 1).data();
    }
    bool app_ = (EnsureWidgetApp(), true);
    StringGrid grid_;
};

TEST_F(StringGridTest, ShowsTheTextTableWithFixedFirstRowAndColumn) {
    grid_.Cells().SetCell(1, 0, "Дата");
    grid_.Cells().SetCell(0, 3, "3");
    grid_.Cells().SetCell(2, 3, "08:30:45");
    EXPECT_EQ(grid_.model()->rowCount(), 4);
    EXPECT_EQ(grid_.model()->columnCount(), 3);
    EXPECT_EQ(Shown(1, 0).toString(), "Дата");
    EXPECT_EQ(Shown(0, 3).toString(), "3");
    EXPECT_EQ(Shown(2, 3).toString(), "08:30:45");
    EXPECT_EQ(Shown(3, 4).toString(), "");
}

TEST_F(StringGridTest, FollowsWritesRowCountChangesAndBatches) {
    QSignalSpy changed(grid_.model(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(grid_.model(), &QAbstractItemModel::modelReset);
    grid_.Cells().SetCell(1, 1, "x");
    EXPECT_EQ(changed.count(), 1);

    grid_.Cells().SetRowCount(8445);
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(grid_.model()->rowCount(), 8444);
    {
        TextGridUpdate batch(grid_.Cells());
        for (int r = 1; r < 100; ++r)
            grid_.Cells().SetCell(1, r, QString::number(r));
    }
    EXPECT_EQ(changed.count(), 1) << "a batch is one reset, not a notice per cell";
    EXPECT_EQ(reset.count(), 2);
    EXPECT_EQ(Shown(1, 99).toString(), "99");
}

TEST_F(StringGridTest, ColumnWidthsAndRowHeightOfTheDesign) {
    grid_.Cells().SetRowCount(10); // sizes survive a reset
    EXPECT_EQ(grid_.verticalHeader()->width(), 37);
    EXPECT_EQ(grid_.horizontalHeader()->sectionSize(0), 50);
    EXPECT_EQ(grid_.horizontalHeader()->sectionSize(1), 47);
    EXPECT_EQ(grid_.horizontalHeader()->sectionSize(2), 37);
    EXPECT_EQ(grid_.horizontalHeader()->height(), 16);
    EXPECT_EQ(grid_.verticalHeader()->sectionSize(5), 16);
}

} // namespace
