// The compressed archive file (format 3) through the real reader: the simulated controller's
// archives at chosen dates, and images no transform suits, come back byte for byte and small; a
// damaged, cut or lengthened stream is refused with its cause, never read as another image.

#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "ArchiveImageBuilder.h"
#include "SimHistory.h"

#include <QDateTime>
#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

ArchiveFileContents Contents(int channels, const QByteArray& image) {
    ArchiveFileContents c;
    c.channelCount = channels;
    c.serial = 7001;
    c.comment = QStringLiteral("ЦТП №4");
    c.downloadedAt = QDateTime(QDate(2024, 6, 1), QTime(2, 0), Qt::OffsetFromUTC, 3 * 3600);
    c.image = image;
    return c;
}

QByteArray History(int channels, const char* at) {
    return sim::HistoryArchiveAt(channels, 7001,
                                 QDateTime::fromString(QString::fromLatin1(at), Qt::ISODate));
}

QByteArray Random() {
    QByteArray bytes(ArchiveSize, '\0');
    QRandomGenerator random(42);
    for (char& b : bytes)
        b = static_cast<char>(random.generate() & 0xFF);
    return bytes;
}

} // namespace

TEST(ImageCompression, EveryImageComesBackWholeAndRecordsTakeAFifthOfTheirSize) {
    QByteArray damagedRecords = History(2, "2024-06-01T02:00:00Z");
    for (int i = 1000; i < 1400; i += 7)
        damagedRecords[i] = static_cast<char>(damagedRecords[i] ^ 0x5A);
    const struct {
        const char* what;
        int channels;
        QByteArray image;
        qsizetype atMost; // bytes of the whole file
    } cases[] = {
        {"two channels, a ring come round", 2, History(2, "2024-06-01T02:00:00Z"), 56'000},
        {"two channels, a ring not yet round", 2, History(2, "2020-01-20T02:00:00Z"), 56'000},
        {"one channel, a ring come round", 1, History(1, "2024-11-15T02:00:00Z"), 56'000},
        {"records with damaged bytes", 2, damagedRecords, 60'000},
        {"the tests' sample records", 2, testimage::FullImage(2), ArchiveSize},
        {"erased memory", 1, QByteArray(ArchiveSize, '\xFF'), 1'000},
        {"noise", 2, Random(), ArchiveSize + 1'000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ArchiveFileContents contents = Contents(c.channels, c.image);
        const QByteArray file = EncodeCompressedArchiveFile(contents);
        EXPECT_LE(file.size(), c.atMost);
        EXPECT_EQ(static_cast<int>(file[8]), 3);
        const ArchiveFileReadResult read = DecodeArchiveFile(file);
        ASSERT_TRUE(read.contents) << read.error.toStdString();
        EXPECT_EQ(read.contents->image, c.image);
        EXPECT_EQ(read.imageSha256, ArchiveImageSha256(c.image));
        EXPECT_EQ(read.contents->comment, contents.comment);
        EXPECT_EQ(read.contents->downloadedAt, contents.downloadedAt);
        EXPECT_EQ(EncodeCompressedArchiveFile(*read.contents), file); // one encoding
    }
}

TEST(ImageCompression, ADamagedCutOrLengthenedStreamIsRefused) {
    const ArchiveFileContents contents = Contents(2, History(2, "2024-06-01T02:00:00Z"));
    const QByteArray file = EncodeCompressedArchiveFile(contents);
    // The header and texts are the plain file's, up to its image: then the stream's length.
    const qsizetype lengthAt = EncodeArchiveFile(contents).size() - 32 - ArchiveSize;
    const qsizetype streamAt = lengthAt + 4, streamSize = file.size() - 32 - streamAt;
    QByteArray flipped = file;
    flipped[streamAt + streamSize / 2] =
        static_cast<char>(flipped[streamAt + streamSize / 2] ^ 0x10);
    QByteArray shortened = file; // the stream cut, its length and checksum kept
    shortened.remove(streamAt + streamSize - 100, 100);
    shortened[lengthAt] = static_cast<char>((streamSize - 100) & 0xFF);
    shortened[lengthAt + 1] = static_cast<char>(((streamSize - 100) >> 8) & 0xFF);
    QByteArray trailing = file; // a byte after the stream's end, within the stored length
    trailing.insert(streamAt + streamSize, 'x');
    trailing[lengthAt] = static_cast<char>((streamSize + 1) & 0xFF);
    trailing[lengthAt + 1] = static_cast<char>(((streamSize + 1) >> 8) & 0xFF);
    QByteArray oneChannel = file; // the planes of two channels read as one
    oneChannel[10] = 1;
    for (const auto& [bytes, cause] : {std::pair{flipped, "повреждён"},
                                       {file.left(file.size() - 40), "обрезан"},
                                       {shortened, "повреждён"},
                                       {trailing, "лишние байты"},
                                       {oneChannel, "повреждён"}}) {
        const ArchiveFileReadResult read = DecodeArchiveFile(bytes);
        EXPECT_FALSE(read.contents);
        EXPECT_TRUE(read.error.contains(QString::fromUtf8(cause))) << read.error.toStdString();
    }
}
