// The toolkit's Russian catalogue as the program installs it at start, and the command line read
// under it. The tests run with the system's language English (LANG=C, see CMakeLists.txt), so a
// catalogue chosen by locale, or one missing from the program, fails them.

#include "ToolkitTranslation.h"
#include "CommandLine.h"
#include "TestQtApp.h"

#include <QCoreApplication>
#include <QLocale>

#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QString Toolkit(const char* context, const char* text) {
    return QCoreApplication::translate(context, text);
}

class ToolkitTranslationTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureQtCoreApp();
        ASSERT_TRUE(InstallToolkitTranslation());
    }
};

} // namespace

TEST_F(ToolkitTranslationTest, ToolkitTextsAreRussianWhateverTheSystemLanguage) {
    // Otherwise the test would not show that the language of the system plays no part.
    ASSERT_NE(QLocale::system().language(), QLocale::Russian);
    // A second call on the same application object changes nothing.
    EXPECT_TRUE(InstallToolkitTranslation());

    EXPECT_EQ(Toolkit("QFileDialog", "Save As"), "Сохранить как");
    EXPECT_EQ(Toolkit("QFileDialog", "File &name:"), "&Имя файла:");
    EXPECT_EQ(Toolkit("QFileDialog", "%1 already exists.\nDo you want to replace it?"),
              "%1 уже существует.\nЗаменить его?");
    EXPECT_EQ(Toolkit("QPlatformTheme", "Cancel"), "Отмена");
    EXPECT_EQ(Toolkit("QLineEdit", "&Copy"), "&Копировать");
    EXPECT_EQ(Toolkit("QLineEdit", "Select All"), "Выделить всё");
    EXPECT_EQ(Toolkit("QCommandLineParser", "Usage: %1"), "Использование: %1");
}

TEST_F(ToolkitTranslationTest, HelpHasRussianHeadingsAndOptionTexts) {
    const CommandLine line = ParseCommandLine({"kv9000", "--help"});
    EXPECT_TRUE(line.exitNow);
    EXPECT_EQ(line.exitCode, 0);
    EXPECT_TRUE(line.errors.isEmpty());
    const QString& help = line.output;
    // The program's name is the application object's (the program itself shows "kv9000": see
    // CommandLineProgramTest.cpp).
    EXPECT_TRUE(help.startsWith("Использование: ")) << help.toStdString();
    EXPECT_TRUE(help.section(u'\n', 0, 0).endsWith(" [параметры] [FILE]")) << help.toStdString();
    EXPECT_TRUE(help.contains("\nПараметры:\n")) << help.toStdString();
    EXPECT_TRUE(help.contains("\nАргументы:\n")) << help.toStdString();
    // The options' own descriptions (on Windows "-?" stands beside "-h, --help").
    EXPECT_TRUE(help.contains(" --help  ")) << help.toStdString();
    EXPECT_TRUE(help.contains(" Вывод справки по параметрам командной строки.\n"))
        << help.toStdString();
    // The column of the descriptions moves with the longest option.
    EXPECT_TRUE(help.contains(QRegularExpression("-v, --version +Показать сведения о версии\\.\n")))
        << help.toStdString();
    // Not one of the toolkit's English words is left (the description of --help-all has no
    // Russian in the catalogue, so that option is not offered).
    for (const char* english : {"Usage", "Options", "Arguments", "Displays", "help-all"})
        EXPECT_FALSE(help.contains(QLatin1String(english))) << english;
}

TEST_F(ToolkitTranslationTest, UsageErrorsInRussianOnStandardError) {
    const CommandLine unknown = ParseCommandLine({"kv9000", "--bogus"});
    EXPECT_TRUE(unknown.exitNow);
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.output.isEmpty());
    EXPECT_EQ(unknown.errors, "kv9000: Неизвестный параметр «bogus». Подробнее: kv9000 --help\n");

    // --help-all is no longer a silent way to open the window.
    EXPECT_EQ(ParseCommandLine({"kv9000", "--help-all"}).exitCode, 2);
    EXPECT_FALSE(ParseCommandLine({"kv9000", "archive.kvarc"}).exitNow);
}
