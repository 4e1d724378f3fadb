// The recent list in the settings file: paths with line breaks, brackets and letters outside
// Windows-1251 read back exactly after a save, and change nothing else in the file.

#include "RecentArchives.h"
#include "SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void Touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

TEST(RecentArchives, AnyFileNameReadsBackExactlyAndChangesNoOtherKey) {
    QTemporaryDir dir;
    const QString ini = dir.filePath("kv9000.INI");
    {
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        // An entry as earlier versions wrote it: the path itself, in Windows-1251.
        f.write("[General]\nCOM port=3\n[Recent]\nFile1=" + dir.path().toLatin1() +
                "/\xE0\xF0\xF5.kvarc\n");
    }
    const QString old = dir.filePath("арх.kvarc");
    const QString injected = dir.filePath("old\n[General]\nCOM speed=1200\nCOM port=7\n.kvarc");
    const QString foreign = dir.filePath("Zoë-2024 [1] =50% 100%25.kvarc");
    for (const QString& path : {old, injected, foreign})
        Touch(path);
    {
        SettingsFile settings(ini);
        EXPECT_EQ(ReadRecentArchives(settings), QStringList{old});
        AddRecentArchive(settings, injected);
        AddRecentArchive(settings, foreign);
        settings.UpdateFile();
    }
    const SettingsFile again(ini);
    EXPECT_EQ(ReadRecentArchives(again), (QStringList{foreign, injected, old}));
    EXPECT_EQ(again.ReadInteger("General", "COM speed", 115200), 115200);
    EXPECT_EQ(again.ReadInteger("General", "COM port", 0), 3);
}

} // namespace
