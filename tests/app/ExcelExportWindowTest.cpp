// The Excel export as the window runs it: the progress bar, its error boxes, the workbook handed
// to the opener, and the busy guard and closing while it runs.

#include "TextGrid.h"
#include "WindowTestSupport.h"
#include "XlsxWorkbookApp.h"

#include <QDir>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

class ExcelExportWindowTest : public ::testing::Test {
protected:
    WindowTestBed bed_;
    QStringList opened_;
    std::function<bool(const QString&)> whenOpened_ = [](const QString&) { return true; };

    void SetUp() override {
        SetWorkbookOpener([this](const QString& path) {
            opened_ << path;
            return whenOpened_(path);
        });
    }
    void TearDown() override {
        SetWorkbookOpener({});
        for (const QString& path : opened_) // the folders the exports made in the temporary dir
            QDir(QFileInfo(path).absolutePath()).removeRecursively();
    }
};

} // namespace

TEST_F(ExcelExportWindowTest, OneChannelExportEndsTheBarAtHalfAndClearsTheMembers) {
    auto form = bed_.OpenWindow(); // no controller: one channel's worth
    bed_.Dialogs().messages.clear();
    form->btExportToExel->click();

    ASSERT_EQ(opened_.size(), 1);
    EXPECT_TRUE(QFileInfo(opened_[0]).isFile());
    EXPECT_TRUE(opened_[0].endsWith(".xlsx"));
    EXPECT_EQ(form->ProgressBar1->maximum(), 2 * (4220 + 5));
    EXPECT_EQ(form->ProgressBar1->value(), 4220 + 5);
    EXPECT_EQ(form->ExcelApp, nullptr);
    EXPECT_EQ(form->ExcelSheet, nullptr);
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
    EXPECT_FALSE(form->Busy());
}

TEST_F(ExcelExportWindowTest, FailingCellShowsAnErrorBoxAndTheExportGoesOn) {
    auto form = bed_.OpenWindow();
    bed_.Dialogs().messages.clear();
    form->Grid(0).SetCell(5, 3, QString(40000, 'x')); // longer than a cell can hold
    form->btExportToExel->click();

    ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
    EXPECT_EQ(bed_.Dialogs().messages[0].text, "Ошибка экспорта!");
    EXPECT_EQ(bed_.Dialogs().messages[0].caption, "Ошибка");
    EXPECT_EQ(bed_.Dialogs().messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(opened_.size(), 1);
}

TEST_F(ExcelExportWindowTest, WorkbookNobodyOpensIsNamedInTheMessage) {
    whenOpened_ = [](const QString&) { return false; };
    auto form = bed_.OpenWindow();
    bed_.Dialogs().messages.clear();
    form->btExportToExel->click();

    ASSERT_EQ(opened_.size(), 1);
    ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
    EXPECT_TRUE(bed_.Dialogs().messages[0].text.contains(QDir::toNativeSeparators(opened_[0])));
    EXPECT_EQ(bed_.Dialogs().messages[0].icon, MessageIcon::Error);
    EXPECT_FALSE(form->Busy());
}

TEST_F(ExcelExportWindowTest, NothingElseStartsWhileItRuns) {
    auto form = bed_.OpenWindow();
    bed_.Dialogs().messages.clear();
    whenOpened_ = [&form, this](const QString&) {
        // The export is still running: these clicks must do nothing.
        bed_.Dialogs().saveAnswers.push_back(bed_.Path("x.txt"));
        form->btExportToExel->click();
        form->btSaveToTxt->click();
        form->bt_DF_Read->click();
        form->btWriteInfo->click();
        return true;
    };
    form->btExportToExel->click();
    EXPECT_EQ(opened_.size(), 1);
    EXPECT_TRUE(bed_.Dialogs().saves.empty());
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
}

TEST_F(ExcelExportWindowTest, ClosingTheWindowStopsTheExportAtTheNextRow) {
    auto form = bed_.OpenWindow();
    form->show();
    bed_.Dialogs().messages.clear();
    // Runs at the first chance the export gives the window to handle its events.
    QTimer::singleShot(0, form.get(), [&form] { form->close(); });
    form->btExportToExel->click();

    EXPECT_TRUE(form->Closing());
    EXPECT_TRUE(opened_.isEmpty()); // nothing written, nothing shown
    EXPECT_EQ(form->ProgressBar1->value(), 1);
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
    EXPECT_TRUE(bed_.ReadSettings().contains("Device address=")); // settings saved at close
}
