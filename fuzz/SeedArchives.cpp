// Writes the seed inputs that hold whole archives into the folder named on the command line,
// one subfolder per fuzz target: archives as the simulator serves them, for one and two
// channels, whole and cut short (archive_decoder, each behind the target's control byte), and
// archive files kept from such downloads and raw images, plain and compressed (archive_file), and
// compressed images behind a control byte for the channel count (image_compression). Made at build
// time so that the tree does not hold 270 KB images.

#include "ArchiveFile.h"
#include "ImageCompression.h"
#include "SimArchive.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTimeZone>

#include <cstdio>

namespace {

bool Write(const QDir& dir, const char* name, const QByteArray& bytes) {
    QFile f(dir.filePath(QString::fromLatin1(name)));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QDir top(QString::fromLocal8Bit(argv[1]));
    const QDir decoder(top.filePath(QStringLiteral("archive_decoder")));
    const QDir file(top.filePath(QStringLiteral("archive_file")));
    const QDir compressed(top.filePath(QStringLiteral("image_compression")));
    if (!QDir().mkpath(decoder.path()) || !QDir().mkpath(file.path()) ||
        !QDir().mkpath(compressed.path()))
        return 1;
    const QByteArray one = sim::GenerateArchive(1);
    const QByteArray two = sim::GenerateArchive(2);

    // Control byte: bit 0 two channels, bit 1 data grids that start small.
    bool ok = Write(decoder, "one-channel-whole", '\0' + one) &&
              Write(decoder, "two-channels-whole", '\1' + two) &&
              // Channel 1 whole with its settings, channel 2 cut off in its first record.
              Write(decoder, "two-channels-cut", '\3' + two.left(sim::ChannelBlockSize(2) + 40)) &&
              Write(decoder, "one-channel-start", '\2' + one.left(4096));

    ArchiveFileContents kept;
    kept.channelCount = 2;
    kept.serial = 12345;
    kept.address = 1;
    kept.identification = QStringLiteral("Лорк КB-9000Л-2К вер. 1.07");
    kept.comment = QStringLiteral("Котельная");
    kept.port = QStringLiteral("COM3");
    kept.downloadedAt = QDateTime(QDate(2026, 1, 15), QTime(8, 30, 45), QTimeZone(3 * 3600));
    kept.image = two;
    ArchiveFileContents unknown;
    unknown.channelCount = 1;
    unknown.downloadedAt = QDateTime(QDate(2025, 12, 31), QTime(23, 59, 59), QTimeZone(-5 * 3600));
    unknown.image = one;
    // A comment that begins with a byte-order mark is read back with it.
    ArchiveFileContents marked = kept;
    marked.comment = QStringLiteral("\uFEFFКотельная");
    // A read of only the new records: its count of blocks read in the compressed file's header.
    ArchiveFileContents news = kept;
    news.blocksRead = 2912;
    const QByteArray keptBytes = EncodeArchiveFile(kept);
    ok = ok && Write(file, "kept-two-channels.kvarc", keptBytes) &&
         Write(file, "kept-one-channel-identity-unknown.kvarc", EncodeArchiveFile(unknown)) &&
         Write(file, "kept-comment-with-byte-order-mark.kvarc", EncodeArchiveFile(marked)) &&
         Write(file, "raw-two-channels", two) &&
         // A raw image kept as a file: its download time is not known (format 2).
         Write(file, "raw-image-kept-time-unknown.kvarc",
               EncodeArchiveFile(*DecodeArchiveFile(two).contents)) &&
         // Header and texts whole, the image cut short.
         Write(file, "kept-truncated.kvarc", keptBytes.left(200)) &&
         Write(file, "kept-compressed-two-channels.kvarc", EncodeCompressedArchiveFile(kept)) &&
         Write(file, "kept-compressed-one-channel.kvarc", EncodeCompressedArchiveFile(unknown)) &&
         Write(file, "kept-compressed-new-records.kvarc", EncodeCompressedArchiveFile(news)) &&
         Write(compressed, "one-channel", '\1' + CompressImage(one, 1)) &&
         Write(compressed, "two-channels", '\2' + CompressImage(two, 2)) &&
         Write(compressed, "two-channels-cut", '\2' + CompressImage(two, 2).left(5000));
    return ok ? 0 : 1;
}
