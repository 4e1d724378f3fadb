// The archive file's format against files checked into the tests (data/fixed-v1.kvarc, and
// data/fixed-v3.kvarc with the image compressed): a change of the format, of its field order, of
// its compression or of its checksum cannot pass unnoticed, and a file written by an earlier
// version keeps reading the same. The journal line's format likewise.

#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "IdentityJournal.h"

#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

// The contents the checked-in file holds: every field set, texts with Cyrillic letters, a time
// with a UTC offset, and an image whose bytes depend on their offset.
ArchiveFileContents FixedContents() {
    ArchiveFileContents c;
    c.channelCount = 2;
    c.serial = 4321;
    c.address = 17;
    c.identification = QStringLiteral("Лорк КB-9000Л-2К вер. 1.07");
    c.comment = QStringLiteral("Котельная №3");
    c.port = QStringLiteral("COM3");
    c.downloadedAt = QDateTime(QDate(2026, 11, 30), QTime(14, 5, 9, 250), QTimeZone(3 * 3600));
    c.image.resize(ArchiveSize);
    for (int i = 0; i < ArchiveSize; ++i)
        c.image[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return c;
}

QByteArray FixedFile(const char* name = "fixed-v1.kvarc") {
    QFile f(QStringLiteral(KV_TEST_DATA_DIR "/") + QString::fromLatin1(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
    return f.readAll();
}

} // namespace

TEST(ArchiveFileFormat, WritingGivesTheCheckedInBytes) {
    const QByteArray fixed = FixedFile();
    // Header, three texts with their lengths, the image's size, the image, its checksum.
    ASSERT_EQ(fixed.size(), 28 + (2 + 36) + (2 + 23) + (2 + 4) + 4 + ArchiveSize + 32);
    EXPECT_EQ(fixed.left(16).toHex(' '), "4b 56 41 52 43 0d 0a 1a 01 00 02 03 e1 10 11 00");
    const QByteArray written = EncodeArchiveFile(FixedContents());
    ASSERT_EQ(written.size(), fixed.size());
    // The first differing offset says which field moved.
    for (qsizetype i = 0; i < fixed.size(); ++i)
        ASSERT_EQ(written[i], fixed[i]) << "offset " << i;
}

TEST(ArchiveFileFormat, TheCheckedInFileReadsAsWritten) {
    const ArchiveFileReadResult read = DecodeArchiveFile(FixedFile());
    ASSERT_TRUE(read.contents) << read.error.toStdString();
    const ArchiveFileContents want = FixedContents();
    EXPECT_EQ(read.contents->channelCount, 2);
    EXPECT_EQ(read.contents->serial, want.serial);
    EXPECT_EQ(read.contents->address, want.address);
    EXPECT_EQ(read.contents->identification, want.identification);
    EXPECT_EQ(read.contents->comment, want.comment);
    EXPECT_EQ(read.contents->port, want.port);
    EXPECT_EQ(read.contents->downloadedAt, want.downloadedAt);
    EXPECT_EQ(read.contents->downloadedAt.offsetFromUtc(), 3 * 3600);
    EXPECT_EQ(read.contents->image, want.image);
}

// The checked-in file was written with the strongest compression; files are written with a
// lighter one now. Both read the same, and only the compressed stream's bytes differ.
TEST(ArchiveFileFormat, TheCheckedInCompressedFileIsReadAndWrittenAlike) {
    const QByteArray fixed = FixedFile("fixed-v3.kvarc");
    EXPECT_EQ(fixed.left(16).toHex(' '), "4b 56 41 52 43 0d 0a 1a 03 00 02 03 e1 10 11 00");
    EXPECT_LT(fixed.size(), ArchiveSize / 4);
    const QByteArray written = EncodeCompressedArchiveFile(FixedContents());
    EXPECT_EQ(written.left(16), fixed.left(16));
    EXPECT_LT(written.size(), ArchiveSize / 4);
    for (const QByteArray& file : {fixed, written}) {
        const ArchiveFileReadResult read = DecodeArchiveFile(file);
        ASSERT_TRUE(read.contents) << read.error.toStdString();
        EXPECT_EQ(read.contents->comment, FixedContents().comment);
        EXPECT_EQ(read.contents->downloadedAt, FixedContents().downloadedAt);
        EXPECT_EQ(read.contents->image, FixedContents().image);
        EXPECT_EQ(read.imageSha256, DecodeArchiveFile(FixedFile()).imageSha256);
    }
}

TEST(ArchiveFileFormat, OneChangedImageByteIsRefusedByTheChecksum) {
    QByteArray damaged = FixedFile();
    damaged[damaged.size() - 32 - 1000] =
        static_cast<char>(damaged[damaged.size() - 32 - 1000] ^ 1);
    const ArchiveFileReadResult read = DecodeArchiveFile(damaged);
    EXPECT_FALSE(read.contents);
    EXPECT_FALSE(read.error.isEmpty());
}

// One journal line: its fields in their order, tabs and quotes in texts escaped, unknown values
// and the steps as the journal writes them.
TEST(IdentityJournalFormat, OneLineHoldsEveryFieldInItsPlace) {
    IdentityJournalEntry e;
    e.when = QDateTime(QDate(2026, 12, 1), QTime(9, 30, 0), QTimeZone(3600));
    e.user = QStringLiteral("ivanov");
    e.port = QStringLiteral("COM2");
    e.before.serial = 12345;
    e.before.address = 1;
    e.before.comment = QStringLiteral("Котельная");
    e.after.serial = 12346;
    e.after.address = 2;
    e.after.comment = QStringLiteral("Дом \"А\"\tкорпус 2");
    e.addressStep = JournalStepText(IdentityStep::Written, {});
    e.serialStep = JournalStepText(IdentityStep::Failed, "RX Error");
    e.commentStep = JournalStepText(IdentityStep::NotTried, {});
    EXPECT_EQ(FormatJournalLine(e),
              QStringLiteral("2026-12-01T09:30:00+01:00\tuser=ivanov\tport=COM2\t"
                             "before serial=12345 address=1 comment=\"Котельная\"\t"
                             "after serial=12346 address=2 comment=\"Дом \\\"А\\\"\\tкорпус 2\"\t"
                             "address=written\tserial=RX Error\tcomment=not tried"));
    EXPECT_EQ(JournalStepText(IdentityStep::Skipped, {}), "skipped");

    // What no read delivered is "?", as is a port that was not open.
    IdentityJournalEntry unknown = e;
    unknown.before = {};
    unknown.port.clear();
    EXPECT_TRUE(FormatJournalLine(unknown).contains(
        QStringLiteral("\tport=?\tbefore serial=? address=? comment=?\t")));
}
