// The Calc export as the window runs it, with the office module missing or replaced by a module
// that answers or fails on cue: the message boxes, the progress bar, a new automation object per
// export, and closing the window while the export runs.

#include "FakeCalcModule.h"
#include "OOCalcAuto.h"
#include "TextGrid.h"
#include "WindowTestSupport.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

QString BinFile(const QString& name) {
    return qEnvironmentVariable("KV_BIN_DIR") + u'/' + name;
}

class CalcExportWindowTest : public ::testing::Test {
protected:
    void TearDown() override { SetCalcModulePath(QString()); }

    // Points the window at the fake office and returns its script, reset; null when the fake
    // module cannot be loaded.
    FakeCalcScript* UseFakeOffice() {
        const QString path =
            BinFile(QStringLiteral("lib%1.so").arg(QLatin1String(FakeCalcModuleBaseName)));
        QLibrary library(path);
        const auto entry =
            reinterpret_cast<FakeCalcScriptEntry>(library.resolve(FakeCalcScriptEntryName));
        if (entry == nullptr) {
            ADD_FAILURE() << library.errorString().toStdString();
            return nullptr;
        }
        SetCalcModulePath(path);
        *entry() = FakeCalcScript{};
        return entry();
    }

    WindowTestBed bed_;
};

TEST_F(CalcExportWindowTest, WithoutTheOfficeOnlyTheMessageAppears) {
    QTemporaryDir empty;
    SetCalcModulePath(empty.filePath(QStringLiteral("libkv9000calc.so")));
    auto form = bed_.OpenWindow(); // no controller: headings-only grids
    bed_.Dialogs().messages.clear();
    form->btExportToOOo->click();

    ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
    const auto& message = bed_.Dialogs().messages[0];
    EXPECT_EQ(message.text, QStringLiteral("Ошибка при создании OpenOffice.org"));
    EXPECT_EQ(message.caption, QStringLiteral("Error"));
    EXPECT_EQ(message.icon, MessageIcon::None);
    EXPECT_EQ(message.buttons, int(MbOk));
    EXPECT_EQ(form->ProgressBar1->maximum(),
              2 * (form->Grid(1).RowCount() + form->Grid(0).RowCount()));
    EXPECT_EQ(form->ProgressBar1->value(), 0);
    EXPECT_FALSE(form->Busy());
}

TEST_F(CalcExportWindowTest, OfficeErrorIsShownWithItsTextAndTheNextExportStartsAfresh) {
    FakeCalcScript* const fake = UseFakeOffice();
    ASSERT_NE(fake, nullptr);
    FakeCalcScript& office = *fake;
    office.failAtCell = 4;
    office.failText = QStringLiteral("Документ закрыт пользователем");
    auto form = bed_.OpenWindow();
    bed_.Dialogs().messages.clear();
    form->btExportToOOo->click();

    ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
    EXPECT_EQ(bed_.Dialogs().messages[0].text, office.failText);
    EXPECT_EQ(office.calls,
              (QStringList{"Connect", "NewDocument", "SelectSheet Канал 1", "Cell 1,1", "Cell 1,2",
                           "Cell 1,3", "Cell 1,4", "ReleaseAll"}));
    EXPECT_FALSE(form->Busy());

    // The next click makes a new object that connects again and runs to the end.
    office.calls.clear();
    office.failAtCell = -1;
    bed_.Dialogs().messages.clear();
    form->btExportToOOo->click();
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
    ASSERT_FALSE(office.calls.isEmpty());
    EXPECT_EQ(office.calls.front(), "Connect");
    EXPECT_EQ(office.calls.back(), "ReleaseAll");
    EXPECT_EQ(office.calls.count("Connect"), 1);
}

TEST_F(CalcExportWindowTest, AnExceptionOfAnyKindIsShownAndTheButtonsWorkAgain) {
    FakeCalcScript* const fake = UseFakeOffice();
    ASSERT_NE(fake, nullptr);
    auto form = bed_.OpenWindow();
    fake->onCell = [](int) { throw 42; };
    bed_.Dialogs().messages.clear();
    form->btExportToOOo->click();
    ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
    EXPECT_EQ(bed_.Dialogs().messages[0].text, QStringLiteral("Unknown error"));
    EXPECT_FALSE(form->Busy());

    fake->onCell = nullptr;
    fake->calls.clear();
    form->btExportToOOo->click();
    EXPECT_TRUE(fake->calls.contains("NewDocument")) << "the busy guard was left set";
}

TEST_F(CalcExportWindowTest, ClosingTheWindowWhileTheOfficeStartsEndsTheWaitQuietly) {
    FakeCalcScript* const fake = UseFakeOffice();
    ASSERT_NE(fake, nullptr);
    fake->waitSteps = 1000;
    fake->connects = false; // an office that never comes
    auto form = bed_.OpenWindow();
    QTimer::singleShot(0, form.get(), [&] { form->close(); });
    bed_.Dialogs().messages.clear();
    form->btExportToOOo->click();
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
    EXPECT_EQ(fake->calls, (QStringList{"Connect", "ReleaseAll"}));
    EXPECT_TRUE(bed_.ReadSettings().contains("COM port=")) << "the closing handler did not run";
    EXPECT_FALSE(form->Busy());
}

TEST_F(CalcExportWindowTest, ClosingTheWindowStopsTheExportAtTheNextRow) {
    FakeCalcScript* const fake = UseFakeOffice();
    ASSERT_NE(fake, nullptr);
    FakeCalcScript& office = *fake;
    auto form = bed_.OpenWindow();
    office.onCell = [&](int cell) {
        if (cell == 20) // within the settings block
            form->close();
    };
    bed_.Dialogs().messages.clear();
    form->btExportToOOo->click();

    EXPECT_TRUE(bed_.Dialogs().messages.empty());
    EXPECT_EQ(office.calls.back(), "ReleaseAll");
    // The row being written is finished, nothing after it: three heading cells plus whole
    // settings rows of 16 cells.
    EXPECT_EQ(office.cells, 3 + 2 * 16);
    EXPECT_FALSE(office.calls.contains("SelectSheet Канал 2"));
}

} // namespace
