// The archive file as the program reads and keeps it: the bytes of both format versions, what is
// refused without blocking (pipes, devices), and keeping downloads under names that are never
// taken twice.

#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "ArchiveImageBuilder.h"
#include "BlocksReadText.h"
#include "ExclusiveName.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

namespace {

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

ArchiveFileContents Kept() {
    ArchiveFileContents c;
    c.channelCount = 2;
    c.serial = 12345;
    c.address = 1;
    c.identification = QStringLiteral("Лорк КB-9000Л-2К вер. 1.07");
    c.downloadedAt = QDateTime(QDate(2026, 1, 15), QTime(8, 30, 45), QTimeZone(3 * 3600));
    c.image = testimage::FullImage(2);
    return c;
}

// Every file under folder, hidden ones (temporary files) included.
QStringList AllFiles(const QString& folder) {
    QStringList found;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();)
        found << it.next();
    found.sort();
    return found;
}

} // namespace

// A known download time is written as format 1, exactly as the first version wrote it; a raw
// image kept as a file has no download time: format 2 with the time flag, read back as unknown.
TEST(ArchiveFileFormat, KnownTimeStaysFormatOneUnknownTimeIsFormatTwo) {
    const QByteArray dated = EncodeArchiveFile(Kept());
    EXPECT_EQ(dated.left(28).toHex(' '), "4b 56 41 52 43 0d 0a 1a 01 00 02 03 39 30 01 00 "
                                         "88 7f 22 c0 9b 01 00 00 30 2a 00 00");
    ASSERT_TRUE(DecodeArchiveFile(dated).contents);
    EXPECT_EQ(DecodeArchiveFile(dated).contents->downloadedAt, Kept().downloadedAt);

    const ArchiveFileReadResult raw = DecodeArchiveFile(testimage::FullImage(1));
    ASSERT_TRUE(raw.contents && raw.rawImage);
    EXPECT_FALSE(raw.contents->downloadedAt.isValid());
    const QByteArray undated = EncodeArchiveFile(*raw.contents);
    EXPECT_EQ(undated.mid(8, 20).toHex(' '),
              "02 00 01 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    const ArchiveFileReadResult back = DecodeArchiveFile(undated);
    ASSERT_TRUE(back.contents) << back.error.toStdString();
    EXPECT_FALSE(back.rawImage);
    EXPECT_FALSE(back.contents->downloadedAt.isValid()); // never 1970-01-01
    EXPECT_EQ(back.contents->image, raw.contents->image);
    EXPECT_EQ(EncodeArchiveFile(*back.contents), undated);

    // Each file has one encoding: the flag belongs to format 2 and format 2 to the flag, and an
    // unknown time has zero fields.
    QByteArray flagInOne = dated;
    flagInOne[11] = static_cast<char>(flagInOne[11] | 0x04);
    QByteArray twoWithoutFlag = dated;
    twoWithoutFlag[8] = 2;
    QByteArray unknownWithTime = undated;
    unknownWithTime[16] = 1;
    QByteArray four = undated; // a version newer than the compressed format 3
    four[8] = 4;
    for (const auto& [bytes, cause] : {std::pair{flagInOne, "неизвестные признаки"},
                                       {twoWithoutFlag, "формат 2 без признака"},
                                       {unknownWithTime, "без признака"},
                                       {four, "более новой версией"}}) {
        const ArchiveFileReadResult r = DecodeArchiveFile(bytes);
        EXPECT_FALSE(r.contents);
        EXPECT_TRUE(r.error.contains(QString::fromUtf8(cause))) << r.error.toStdString();
    }
}

// A read of only the new records keeps the blocks it read in format 3's header, flagged, and
// reads back the same; a whole download's format 3 file has no field, and formats 1 and 2 hold
// no count (nor its flag); a count out of range is damage. The count is shown as the library
// and the report say it.
TEST(ArchiveFileFormat, BlocksReadIsKeptInFormatThreeAndRoundTrips) {
    ArchiveFileContents partial = Kept();
    partial.blocksRead = 2912;
    const QByteArray three = EncodeCompressedArchiveFile(partial);
    const QByteArray whole = EncodeCompressedArchiveFile(Kept());
    const QByteArray one = EncodeArchiveFile(Kept());
    EXPECT_EQ(three.mid(8, 2).toHex(' '), "03 00");
    EXPECT_EQ(static_cast<std::uint8_t>(three[11]), static_cast<std::uint8_t>(whole[11] | 0x08));
    ASSERT_EQ(three.size(), whole.size() + 2);
    const qsizetype field = one.size() - 4 - ArchiveSize - 32; // where the image size stands
    EXPECT_EQ(three.mid(field, 2).toHex(' '), "60 0b");
    EXPECT_EQ(three.mid(12, field - 12), whole.mid(12, field - 12));
    EXPECT_EQ(three.mid(field + 2), whole.mid(field));
    EXPECT_EQ(EncodeArchiveFile(partial), one);
    const ArchiveFileReadResult back = DecodeArchiveFile(three);
    ASSERT_TRUE(back.contents) << back.error.toStdString();
    EXPECT_TRUE(back.compressed);
    EXPECT_EQ(back.contents->blocksRead, std::optional(2912));
    EXPECT_EQ(EncodeCompressedArchiveFile(*back.contents), three);
    EXPECT_FALSE(DecodeArchiveFile(whole).contents->blocksRead);
    EXPECT_FALSE(DecodeArchiveFile(one).contents->blocksRead);
    QByteArray flagInOne = one;
    flagInOne[11] = static_cast<char>(flagInOne[11] | 0x08);
    EXPECT_TRUE(
        DecodeArchiveFile(flagInOne).error.contains(QStringLiteral("неизвестные признаки")));

    // A list of visits reads the field from the header of the kept file alone, of any version.
    QTemporaryDir dir;
    QString kept;
    ASSERT_EQ(KeepArchiveFile(dir.path(), partial, &kept, KeptEncoding::Compressed), QString());
    EXPECT_EQ(ReadArchiveFileBlocksRead(kept), std::optional(2912));
    ASSERT_EQ(KeepArchiveFile(dir.path(), Kept(), &kept, KeptEncoding::Compressed), QString());
    EXPECT_FALSE(ReadArchiveFileBlocksRead(kept));
    ArchiveFileContents undated = partial;
    undated.downloadedAt = {};
    for (const auto& [name, contents] : {std::pair{"one.kvarc", partial}, {"two.kvarc", undated}}) {
        ASSERT_EQ(WriteArchiveFile(dir.filePath(name), contents), QString());
        EXPECT_FALSE(ReadArchiveFileBlocksRead(dir.filePath(name))) << name;
    }

    for (const int wrong : {0, 8449}) {
        QByteArray bad = three;
        bad[field] = static_cast<char>(wrong & 0xFF);
        bad[field + 1] = static_cast<char>(wrong >> 8);
        const ArchiveFileReadResult r = DecodeArchiveFile(bad);
        EXPECT_FALSE(r.contents) << wrong;
        EXPECT_TRUE(r.error.contains(QStringLiteral("прочитано блоков"))) << r.error.toStdString();
    }

    for (const auto& [count, text] : {std::pair{2912, "прочитано 2 912 блоков из 8 448"},
                                      {1, "прочитано 1 блок из 8 448"},
                                      {22, "прочитано 22 блока из 8 448"},
                                      {111, "прочитано 111 блоков из 8 448"},
                                      {1011, "прочитано 1 011 блоков из 8 448"}})
        EXPECT_EQ(BlocksReadText(count), QString::fromUtf8(text));
    EXPECT_EQ(BlocksReadText(std::nullopt), QString());
}

// A named pipe would block the open, a device the read: both are refused at once, with one
// cause, by the one reader every part of the program uses.
TEST(ArchiveFileRead, PipesAndDevicesAreRefusedWithoutBlocking) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("trap.kvarc");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QElapsedTimer timer;
    timer.start();
    for (const QString& path : {fifo, QStringLiteral("/dev/zero"), QStringLiteral("/dev/null")}) {
        SCOPED_TRACE(path.toStdString());
        const ArchiveFileReadResult r = ReadArchiveFile(path);
        EXPECT_FALSE(r.contents);
        EXPECT_EQ(r.error, "это не обычный файл (устройство или канал)");
    }
    EXPECT_LT(timer.elapsed(), 1000);

    // A regular file behind a symbolic link is still a regular file.
    ASSERT_EQ(WriteArchiveFile(dir.filePath("good.kvarc"), Kept()), "");
    ASSERT_TRUE(QFile::link(dir.filePath("good.kvarc"), dir.filePath("link.kvarc")));
    EXPECT_TRUE(ReadArchiveFile(dir.filePath("link.kvarc")).contents);
}

// An existing file is never replaced, even one that appears after the name was proposed; two
// programs keeping downloads of the same second at the same time get a file each.
TEST(ArchiveFileKeep, NamesAreTakenExclusivelyAndNoFileIsEverReplaced) {
    QTemporaryDir dir;
    ArchiveFileContents c = Kept();
    c.serial.reset();
    const QString first = AutoSavePath(dir.path(), c);
    EXPECT_TRUE(first.endsWith("/unknown-serial/2026-01-15_08-30-45.kvarc"));
    QDir().mkpath(QFileInfo(first).absolutePath());
    QFile other(first);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("another program's file");
    other.close();

    QString kept;
    ASSERT_EQ(KeepArchiveFile(dir.path(), c, &kept), "");
    EXPECT_TRUE(kept.endsWith("/2026-01-15_08-30-45_2.kvarc")) << kept.toStdString();
    EXPECT_EQ(ReadBytes(first), "another program's file");
    EXPECT_EQ(ReadBytes(kept), EncodeArchiveFile(c));
    EXPECT_EQ(QFileInfo(kept).permissions() & QFileDevice::ReadOther, QFileDevice::ReadOther);

    constexpr int kEach = 20;
    auto keepMany = [&] {
        for (int i = 0; i < kEach; ++i) {
            QString path;
            EXPECT_EQ(KeepArchiveFile(dir.path(), c, &path), "");
        }
    };
    std::thread one(keepMany);
    std::thread two(keepMany);
    one.join();
    two.join();
    const QStringList files = AllFiles(dir.path()); // no temporary file is left behind
    ASSERT_EQ(files.size(), 2 + 2 * kEach);
    for (const QString& path : files) {
        if (path != first) {
            EXPECT_EQ(ReadBytes(path), EncodeArchiveFile(c)) << path.toStdString();
        }
    }

    // The move itself refuses a taken name and leaves both files as they were.
    QFile source(dir.filePath("source"));
    ASSERT_TRUE(source.open(QIODevice::WriteOnly));
    source.write("x");
    source.close();
    QString error;
    EXPECT_EQ(MoveWithoutReplacing(source.fileName(), first, &error), ExclusiveMove::Taken);
    EXPECT_EQ(ReadBytes(source.fileName()), "x");
    EXPECT_EQ(MoveWithoutReplacing(source.fileName(), dir.filePath("none/x"), &error),
              ExclusiveMove::Failed);
    EXPECT_FALSE(error.isEmpty());
}
