// Which archives belong together, on archive files kept in a real folder: the controller named in
// a title, the refusal of another controller's archive, and the previous visit offered for a
// comparison (the chart window's and the visit report's lookup).

#include "ArchiveComparison.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

ArchiveFileContents Controller(int channels, std::optional<std::uint16_t> serial) {
    ArchiveFileContents c;
    c.channelCount = channels;
    c.serial = serial;
    return c;
}

void Touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

} // namespace

TEST(ArchiveComparison, TheControllerIsNamedByWhatIsKnownOfIt) {
    ArchiveFileContents c = Controller(2, 12345);
    c.identification = QStringLiteral("Лорк КB-9000Л-2К вер. 1.07");
    EXPECT_EQ(DescribeController(c, "/a/x.kvarc"),
              QStringLiteral("Лорк КB-9000Л-2К вер. 1.07, серийный номер 12345"));
    c.identification.clear();
    EXPECT_EQ(DescribeController(c, "/a/x.kvarc"), QStringLiteral("серийный номер 12345"));
    // A raw image knows nothing of its controller: its file's name stands for it.
    c.serial.reset();
    EXPECT_EQ(DescribeController(c, "/a/dump.bin"), QStringLiteral("dump.bin"));
    EXPECT_EQ(DescribeController(c, {}), QStringLiteral("регулятор неизвестен"));
}

TEST(ArchiveComparison, AnotherChannelCountOrSerialNumberIsRefusedAnUnknownOneIsNot) {
    EXPECT_EQ(ComparisonRefusal(Controller(2, 12345), Controller(2, 12345)), QString());
    EXPECT_EQ(ComparisonRefusal(Controller(2, 12345), Controller(1, 12345)),
              QStringLiteral("Архив для сравнения снят с регулятора с другим числом каналов "
                             "(1 вместо 2)."));
    EXPECT_EQ(ComparisonRefusal(Controller(2, 12345), Controller(2, 777)),
              QStringLiteral("Архив для сравнения снят с другого регулятора (серийный номер 777 "
                             "вместо 12345)."));
    EXPECT_EQ(ComparisonRefusal(Controller(2, 12345), Controller(2, std::nullopt)), QString());
    EXPECT_EQ(ComparisonRefusal(Controller(2, std::nullopt), Controller(2, 777)), QString());
}

TEST(ArchiveComparison, PreviousFileIsTheLastOneNamedBeforeTheShownFileOrItsDownloadTime) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name :
         {"2024-01-31_08-15-00.kvarc", "2024-01-31_08-15-00_2.kvarc", "2024-03-01_10-00-00.kvarc",
          "2024-05-20_09-00-00.kvarc", "2024-02-01_00-00-00.txt"})
        Touch(dir.filePath(name));
    ASSERT_TRUE(QDir(dir.path()).mkdir("2024-04-01_00-00-00.kvarc")); // a folder is no file
    const QString folder = dir.path();

    // Before the shown file, same-second downloads in the order they were kept.
    EXPECT_EQ(PreviousArchiveFile(folder, dir.filePath("2024-05-20_09-00-00.kvarc"), {}),
              dir.filePath("2024-03-01_10-00-00.kvarc"));
    EXPECT_EQ(PreviousArchiveFile(folder, dir.filePath("2024-03-01_10-00-00.kvarc"), {}),
              dir.filePath("2024-01-31_08-15-00_2.kvarc"));
    EXPECT_EQ(PreviousArchiveFile(folder, dir.filePath("2024-01-31_08-15-00_2.kvarc"), {}),
              dir.filePath("2024-01-31_08-15-00.kvarc"));
    EXPECT_EQ(PreviousArchiveFile(folder, dir.filePath("2024-01-31_08-15-00.kvarc"), {}),
              QString());
    // A file shown from elsewhere is compared by its name alone.
    EXPECT_EQ(PreviousArchiveFile(folder, "/elsewhere/2024-04-01_00-00-00.kvarc", {}),
              dir.filePath("2024-03-01_10-00-00.kvarc"));

    // A download not kept: the files kept before its time, never the one kept of itself.
    const QDateTime at(QDate(2024, 5, 20), QTime(9, 0, 0));
    EXPECT_EQ(PreviousArchiveFile(folder, {}, at), dir.filePath("2024-03-01_10-00-00.kvarc"));
    // Nothing known: the newest.
    EXPECT_EQ(PreviousArchiveFile(folder, {}, {}), dir.filePath("2024-05-20_09-00-00.kvarc"));

    EXPECT_EQ(PreviousArchiveFile({}, {}, {}), QString());
    EXPECT_EQ(PreviousArchiveFile(dir.filePath("missing"), {}, at), QString());
}
