// The text export as the window runs it: its save dialog, the fields and grids it reads, and how
// a file that cannot be written is reported.

#include "ServiceSession.h"
#include "TextGrid.h"
#include "WindowTestSupport.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class TextExportWindowTest : public ::testing::Test {
protected:
    WindowTestBed bed_;
};

} // namespace

TEST_F(TextExportWindowTest, DialogSettingsAndCancel) {
    auto form = bed_.OpenWindow(); // no controller
    bed_.Dialogs().messages.clear();
    bed_.Dialogs().saveAnswers.push_back(std::nullopt);
    form->btSaveToTxt->click();

    ASSERT_EQ(bed_.Dialogs().saves.size(), 1u);
    const FileSaveDialog& dialog = bed_.Dialogs().saves[0];
    EXPECT_EQ(dialog.DefaultExt, "*.txt");
    EXPECT_EQ(dialog.Filter, "txt|*.txt");
    EXPECT_TRUE(dialog.OverwritePrompt);
    EXPECT_EQ(dialog.FileName, "");
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
    EXPECT_EQ(QDir(bed_.Path("")).entryList({"*.txt"}), QStringList{});
}

TEST_F(TextExportWindowTest, WritesWhatTheWindowShowsAndRemembersTheName) {
    auto sim = bed_.StartSim({"--channels", "2", "--serial", "12345", "--comment", "Котельная"});
    bed_.WriteSettings("[General]\nCOM port=1\n" +
                       WindowTestBed::PortsSection({{1, sim->Device()}}));
    auto form = bed_.OpenWindow();
    ASSERT_EQ(form->Session().ChannelCount(), 2);
    form->edComment->setText("Щитовая"); // edited, not yet written to the controller
    form->Grid(2).SetCell(0, 7, "7");
    form->Grid(2).SetCell(13, 7, "255");

    const QString path = bed_.Path("archive.txt");
    bed_.Dialogs().saveAnswers.push_back(path);
    form->btSaveToTxt->click();

    const QByteArray file = ReadFile(path);
    EXPECT_TRUE(file.startsWith(ToCp1251("Лорк КB-9000Л-2К вер. 1.07\r\nСерийный номер: 12345\r\n"
                                         "Место установки регулятора: Щитовая\r\n\r\n")))
        << file.left(120).toStdString();
    EXPECT_TRUE(file.endsWith(ToCp1251("Канал 2: данные\r\n№\tДата\tВремя\tТпод\tТобр\tТп1\tТп2\t"
                                       "Тп\tТнар.\tТграф\tТуст\tТтреб\ttвозд\tРеле\t\r\n"
                                       "7\t\t\t\t\t\t\t\t\t\t\t\t\t255\t\r\n")));

    // The dialog opens with the last name; saving again replaces the file.
    form->edComment->setText("");
    bed_.Dialogs().saveAnswers.push_back(path);
    form->btSaveToTxt->click();
    ASSERT_EQ(bed_.Dialogs().saves.size(), 2u);
    EXPECT_EQ(bed_.Dialogs().saves[1].FileName, path);
    EXPECT_TRUE(ReadFile(path).contains(ToCp1251("Место установки регулятора: \r\n")));
    EXPECT_TRUE(bed_.Dialogs().messages.empty());
}

TEST_F(TextExportWindowTest, FileThatCannotBeCreatedIsShownAndTheWindowGoesOn) {
    auto form = bed_.OpenWindow();
    bed_.Dialogs().messages.clear();
    const QString missing = bed_.Path("missing/archive.txt");
    bed_.Dialogs().saveAnswers.push_back(missing);
    form->btSaveToTxt->click();

    ASSERT_EQ(bed_.Dialogs().messages.size(), 1u);
    EXPECT_EQ(bed_.Dialogs().messages[0].text, "Cannot create file " + missing);
    EXPECT_EQ(bed_.Dialogs().messages[0].icon, MessageIcon::Error);
    EXPECT_FALSE(form->Busy());

    const QString good = bed_.Path("archive.txt");
    bed_.Dialogs().saveAnswers.push_back(good);
    form->btSaveToTxt->click();
    EXPECT_TRUE(ReadFile(good).startsWith("\r\n")); // no controller: line 1 empty
}
