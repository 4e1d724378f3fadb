// The settings file: defaults, what survives a save, the encoding, and where the file lives.

#include "SettingsFile.h"
#include "SettingsLocation.h"
#include "WindowTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    QString Path() const { return dir_.filePath(QStringLiteral("kv9000.INI")); }
    void Write(const QByteArray& bytes) const {
        QFile f(Path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray Read() const {
        QFile f(Path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QTemporaryDir dir_;
};

TEST_F(SettingsFileTest, MissingFileOrKeysOrGarbageValuesGiveTheDefaults) {
    SettingsFile none(Path());
    EXPECT_EQ(none.ReadInteger("General", "COM speed", 115200), 115200);
    EXPECT_TRUE(none.ReadPorts().empty());

    Write("[General]\nLeft=abc\nTop= 77 \nCOM port=\n");
    SettingsFile some(Path());
    EXPECT_EQ(some.ReadInteger("General", "Left", 386), 386);
    EXPECT_EQ(some.ReadInteger("General", "Top", 59), 77);
    EXPECT_EQ(some.ReadInteger("General", "COM port", 0), 0);
    EXPECT_EQ(some.ReadInteger("General", "Device address", 1), 1);
}

TEST_F(SettingsFileTest, FileWrittenOnWindowsWithCrLfLines) {
    Write("[General]\r\nCOM port=1\r\nDevice address=300\r\n[Ports]\r\nCOM1=/dev/pts/9\r\n");
    SettingsFile s(Path());
    EXPECT_EQ(s.ReadInteger("General", "COM port", 0), 1);
    EXPECT_EQ(s.ReadInteger("General", "Device address", 1), 300);
    EXPECT_EQ(s.ReadPorts(), (std::map<int, QString>{{1, "/dev/pts/9"}}));
}

TEST_F(SettingsFileTest, KeysAreFoundWhateverTheirLetterCase) {
    Write("[general]\ncom PORT=7\n");
    SettingsFile s(Path());
    EXPECT_EQ(s.ReadInteger("General", "COM port", 0), 7);
}

TEST_F(SettingsFileTest, UnknownEntriesCommentsAndCyrillicTextSurviveASaveByteForByte) {
    const QByteArray before = ToCp1251(QStringLiteral("; настройки программы\n"
                                                      "[General]\n"
                                                      "Left=10\n"
                                                      "Language=Русский\n"
                                                      "COM speed=9600\n"
                                                      "\n"
                                                      "; порты\n"
                                                      "[Ports]\n"
                                                      "COM3=/dev/ttyUSB0\n"
                                                      "\n"
                                                      "[Котельная]\n"
                                                      "Имя=Склад №2\n"));
    Write(before);
    {
        SettingsFile s(Path());
        s.WriteInteger("General", "Left", 20);
        s.WriteInteger("General", "COM port", 3);
        s.UpdateFile();
    }
    const QString after = FromCp1251(Read());
    EXPECT_TRUE(after.contains(QStringLiteral("; настройки программы\n")));
    EXPECT_TRUE(after.contains(QStringLiteral("Language=Русский\n")));
    EXPECT_TRUE(after.contains(QStringLiteral("COM speed=9600\n")));
    EXPECT_TRUE(after.contains(QStringLiteral("; порты\n[Ports]\nCOM3=/dev/ttyUSB0\n")));
    EXPECT_TRUE(after.contains(QStringLiteral("[Котельная]\nИмя=Склад №2\n")));
    EXPECT_TRUE(after.contains(QStringLiteral("Left=20\n")));
    // A key with a space is written as it is, with no blanks around "=".
    EXPECT_TRUE(after.contains(QStringLiteral("COM port=3\n")));
    EXPECT_FALSE(after.contains(QStringLiteral("Left=10")));
    // Windows-1251, not UTF-8: the numero sign is the single byte 0xB9.
    EXPECT_TRUE(Read().contains("\xB9"
                                "2"));
}

TEST_F(SettingsFileTest, PortsSectionGivesTheExplicitDevices) {
    Write("[Ports]\nCOM3=/dev/ttyUSB0\ncom12 = /dev/pts/7\nLPT1=/dev/lp0\nCOMx=/dev/null\n"
          "COM0=/dev/null\nCOM4=\nCOM+5=/dev/null\nCOM 6=/dev/null\n");
    SettingsFile s(Path());
    const std::map<int, QString> expected = {{3, "/dev/ttyUSB0"}, {12, "/dev/pts/7"}};
    EXPECT_EQ(s.ReadPorts(), expected);
}

TEST_F(SettingsFileTest, GivingADeviceANumberKeepsEveryOtherKey) {
    const QByteArray before = ToCp1251(QStringLiteral("[General]\nLanguage=Русский\n; порты\n"
                                                      "[Ports]\ncom5 = /dev/ttyUSB0\n"
                                                      "COM2=/dev/ttyS0\nNote=запасной\n"));
    Write(before);
    SettingsFile s(Path());
    s.WritePort(3, "/dev/ttyUSB0");
    s.UpdateFile();
    const std::map<int, QString> expected = {{2, "/dev/ttyS0"}, {3, "/dev/ttyUSB0"}};
    EXPECT_EQ(SettingsFile(Path()).ReadPorts(), expected) << "COM5 no longer names it";
    const QString after = FromCp1251(Read());
    for (const char* kept : {"Language=Русский\n", "; порты\n[Ports]\n", "Note=запасной\n"})
        EXPECT_TRUE(after.contains(QString::fromUtf8(kept))) << kept;
}

TEST_F(SettingsFileTest, AFailedWriteThrowsAndLeavesTheOldFileWhole) {
    Write("[General]\nLeft=1\n");
    // A folder where the file should be makes the write fail, even for root.
    SettingsFile s(Path(), dir_.filePath(QStringLiteral("blocked/kv9000.INI")));
    QFile blocker(dir_.filePath(QStringLiteral("blocked")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    s.WriteInteger("General", "Left", 2);
    EXPECT_THROW(s.UpdateFile(), std::runtime_error);
    EXPECT_EQ(Read(), QByteArray("[General]\nLeft=1\n"));
    // The message box shows the cause as it is: in Russian, naming the file.
    try {
        s.UpdateFile();
    } catch (const std::runtime_error& e) {
        const QString shown = QString::fromUtf8(e.what());
        EXPECT_TRUE(shown.startsWith(QStringLiteral("Не удалось "))) << e.what();
        EXPECT_TRUE(shown.contains(QDir::toNativeSeparators(s.WritePath()))) << e.what();
    }
}

TEST_F(SettingsFileTest, WriteCreatesTheUserConfigurationFolder) {
    const QString user = dir_.filePath(QStringLiteral("config/kv9000/kv9000.INI"));
    SettingsFile s(Path(), user);
    s.WriteInteger("General", "Top", 5);
    s.UpdateFile();
    EXPECT_TRUE(QFile::exists(user));
    EXPECT_FALSE(QFile::exists(Path()));
}

TEST(SettingsLocationTest, BesideTheExecutableWhenWritableElseTheUserFolder) {
    const QString beside = "/opt/kv9000/kv9000.INI";
    const QString user = "/home/u/.config/kv9000/kv9000.INI";
    const SettingsLocation writable = ChooseSettingsLocation(beside, true, user, true);
    EXPECT_EQ(writable.readPath, beside);
    EXPECT_EQ(writable.writePath, beside);

    const SettingsLocation firstRun = ChooseSettingsLocation(beside, false, user, false);
    EXPECT_EQ(firstRun.readPath, beside); // a file installed with the program gives the start
    EXPECT_EQ(firstRun.writePath, user);

    const SettingsLocation later = ChooseSettingsLocation(beside, false, user, true);
    EXPECT_EQ(later.readPath, user);
    EXPECT_EQ(later.writePath, user);
}

TEST(SettingsLocationTest, CanReplaceFileSeesMissingFolders) {
    QTemporaryDir dir;
    EXPECT_TRUE(CanReplaceFile(dir.filePath("kv9000.INI")));
    EXPECT_FALSE(CanReplaceFile(dir.filePath("missing/kv9000.INI")));
}

TEST(SettingsLocationTest, TheProgramsFileIsBesideTheExecutableNamedAfterIt) {
    EnsureWidgetApp();
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    const SettingsLocation where = ProgramSettingsLocation();
    // The test program's folder is writable, so the portable build keeps the file beside it;
    // the installed one never does.
    EXPECT_EQ(where.writePath == exe.absoluteDir().filePath(exe.completeBaseName() + ".INI"),
              !InstalledLayout());
    EXPECT_EQ(where.readPath, where.writePath);
}

} // namespace
