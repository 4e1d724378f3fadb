// The real dialogs and an edit field after the program's start-up installed the toolkit's
// Russian catalogue, with the system's language English (LANG=C, see CMakeLists.txt): the
// toolkit's own words are Russian, while every text and setting the window gives them stays as
// it was (the save dialog's filter, default extension and overwrite question; the message boxes'
// captions, the English "Error" of the Calc message among them, and their single button).

#include "ToolkitTranslation.h"
#include "UserDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// Runs act on the modal dialog of type T as soon as it is shown (the caller then opens it).
template <typename T> void WhenShown(std::function<void(T*)> act) {
    auto* timer = new QTimer(QApplication::instance());
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        act(dialog);
    });
    timer->start();
}

// True when the text has no Latin letter outside its shortcut (after a TAB).
bool WithoutLatin(const QString& text) {
    return !text.section(u'\t', 0, 0).contains(QRegularExpression(QStringLiteral("[A-Za-z]")));
}

class ToolkitTextsWindowTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(InstallToolkitTranslation()); }
    std::shared_ptr<UserDialogs> dialogs_ = MakeQtUserDialogs(nullptr);
};

} // namespace

TEST_F(ToolkitTextsWindowTest, EditFieldContextMenuIsRussian) {
    QLineEdit edit(QStringLiteral("Котельная"));
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList texts;
    for (const QAction* action : menu->actions())
        if (!action->isSeparator())
            texts << action->text().section(u'\t', 0, 0); // without the shortcut
    EXPECT_GE(texts.size(), 6) << texts.join(" | ").toStdString();
    for (const QString& text : texts)
        EXPECT_TRUE(WithoutLatin(text)) << text.toStdString();
    EXPECT_TRUE(texts.contains("Выделить всё")) << texts.join(" | ").toStdString();
}

TEST_F(ToolkitTextsWindowTest, SaveDialogRussianWithTheWindowsSettingsKept) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // The settings the main window gives its save dialog.
    FileSaveDialog settings;
    settings.DefaultExt = QStringLiteral("*.txt");
    settings.Filter = QStringLiteral("txt|*.txt");
    settings.OverwritePrompt = true;

    // A name typed without extension gets the default one.
    WhenShown<QFileDialog>([&](QFileDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Сохранить как");
        EXPECT_EQ(dialog->labelText(QFileDialog::LookIn), "Перейти к:");
        EXPECT_EQ(dialog->labelText(QFileDialog::FileName), "&Имя файла:");
        EXPECT_TRUE(WithoutLatin(dialog->labelText(QFileDialog::Accept)))
            << dialog->labelText(QFileDialog::Accept).toStdString();
        EXPECT_EQ(dialog->labelText(QFileDialog::Reject), "Отмена");
        EXPECT_EQ(dialog->nameFilters(), QStringList{"txt (*.txt)"});
        EXPECT_EQ(dialog->defaultSuffix(), "txt");
        EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        dialog->selectFile(dir.filePath("archive"));
        static_cast<QDialog*>(dialog)->accept(); // as the user's "Save" does
    });
    ASSERT_TRUE(dialogs_->ExecuteSave(settings));
    const QString path = dir.filePath("archive.txt");
    EXPECT_EQ(settings.FileName, path);

    // The same name again, now that the file exists: the overwrite question, in Russian.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QString question;
    int questionButtons = 0;
    WhenShown<QFileDialog>([&](QFileDialog* dialog) {
        WhenShown<QMessageBox>([&](QMessageBox* box) {
            question = box->text();
            questionButtons = int(box->standardButtons());
            box->button(QMessageBox::Yes)->click();
        });
        static_cast<QDialog*>(dialog)->accept(); // the name chosen the last time, preselected
    });
    ASSERT_TRUE(dialogs_->ExecuteSave(settings));
    EXPECT_EQ(settings.FileName, path);
    EXPECT_EQ(question, "archive.txt уже существует.\nЗаменить его?");
    EXPECT_EQ(questionButtons, int(QMessageBox::Yes | QMessageBox::No));
}

TEST_F(ToolkitTextsWindowTest, MessageBoxesKeepTheirCaptionsAndSingleButton) {
    struct Shown {
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttonCount = 0;
    };
    const auto show = [&](const QString& text, const QString& caption, MessageIcon icon) {
        Shown shown;
        WhenShown<QMessageBox>([&](QMessageBox* box) {
            shown = {box->windowTitle(), box->text(), box->icon(), int(box->buttons().size())};
            box->button(QMessageBox::Ok)->click();
        });
        EXPECT_EQ(dialogs_->ShowMessageBox(text, caption, icon, MbOk), MbOk);
        return shown;
    };
    // The Calc export's message: the English caption stays, no icon.
    const Shown calc = show("Ошибка при создании OpenOffice.org", "Error", MessageIcon::None);
    EXPECT_EQ(calc.caption, "Error");
    EXPECT_EQ(calc.text, "Ошибка при создании OpenOffice.org");
    EXPECT_EQ(calc.icon, QMessageBox::NoIcon);
    EXPECT_EQ(calc.buttonCount, 1);
    // The Excel export's: its caption, an error icon.
    const Shown excel = show("Невозможно открыть Microsoft Excel!", "Ошибка", MessageIcon::Error);
    EXPECT_EQ(excel.caption, "Ошибка");
    EXPECT_EQ(excel.icon, QMessageBox::Critical);
    EXPECT_EQ(excel.buttonCount, 1);
}

TEST_F(ToolkitTextsWindowTest, InputBoxButtonsAreRussian) {
    QString caption, prompt, cancel;
    WhenShown<QInputDialog>([&](QInputDialog* dialog) {
        caption = dialog->windowTitle();
        prompt = dialog->labelText();
        auto* buttons = dialog->findChild<QDialogButtonBox*>();
        if (buttons && buttons->button(QDialogButtonBox::Cancel))
            cancel = buttons->button(QDialogButtonBox::Cancel)->text();
        dialog->setTextValue(QStringLiteral("1234"));
        dialog->accept();
    });
    // The access code's input box: its caption, no prompt.
    const std::optional<QString> answer =
        dialogs_->InputBox(QStringLiteral("Введите пароль"), QString(), QString());
    EXPECT_EQ(answer, QStringLiteral("1234"));
    EXPECT_EQ(caption, "Введите пароль");
    EXPECT_EQ(prompt, "");
    EXPECT_EQ(cancel, "Отмена");
}
