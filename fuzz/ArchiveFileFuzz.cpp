// fuzz_archive_file: any bytes as an archive file. A refused file gives a cause and no contents;
// an accepted one holds a whole image for one or two channels, and writing it again gives the
// same bytes (a compressed file, whose stream another compressor may have made, the same
// contents); a raw image is the input byte for byte and is written as a file that reads back
// the same, with its download time unknown (format 2) or once given one (format 1).

#include "ArchiveFile.h"
#include "ArchiveGeometry.h"
#include "FuzzCheck.h"

#include <QByteArray>
#include <QDateTime>

#include <cstddef>
#include <cstdint>

namespace {

bool SameContents(const ArchiveFileContents& a, const ArchiveFileContents& b) {
    return a.channelCount == b.channelCount && a.serial == b.serial && a.address == b.address &&
           a.identification == b.identification && a.comment == b.comment && a.port == b.port &&
           a.downloadedAt == b.downloadedAt &&
           a.downloadedAt.offsetFromUtc() == b.downloadedAt.offsetFromUtc() && a.image == b.image &&
           a.blocksRead == b.blocksRead;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ArchiveFileReadResult read = DecodeArchiveFile(bytes);
    if (!read.contents) {
        KV_FUZZ_CHECK(!read.error.isEmpty());
        return 0;
    }
    const ArchiveFileContents& contents = *read.contents;
    KV_FUZZ_CHECK(read.error.isEmpty());
    KV_FUZZ_CHECK(contents.image.size() == ArchiveSize);
    KV_FUZZ_CHECK(contents.channelCount == 1 || contents.channelCount == 2);

    if (!read.rawImage) {
        if (static_cast<std::uint8_t>(bytes[8]) == CompressedArchiveFileVersion) {
            const ArchiveFileReadResult again =
                DecodeArchiveFile(EncodeCompressedArchiveFile(contents));
            KV_FUZZ_CHECK(again.contents && SameContents(*again.contents, contents));
        } else {
            KV_FUZZ_CHECK(EncodeArchiveFile(contents) == bytes);
        }
        return 0;
    }
    KV_FUZZ_CHECK(contents.image == bytes);
    KV_FUZZ_CHECK(!contents.downloadedAt.isValid());
    const QByteArray undated = EncodeArchiveFile(contents);
    const ArchiveFileReadResult kept = DecodeArchiveFile(undated);
    KV_FUZZ_CHECK(kept.contents && !kept.rawImage && SameContents(*kept.contents, contents));
    KV_FUZZ_CHECK(!kept.contents->downloadedAt.isValid() &&
                  EncodeArchiveFile(*kept.contents) == undated);
    ArchiveFileContents dated = contents;
    dated.downloadedAt = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::OffsetFromUTC, 3600);
    const ArchiveFileReadResult again = DecodeArchiveFile(EncodeArchiveFile(dated));
    KV_FUZZ_CHECK(again.contents && !again.rawImage && SameContents(*again.contents, dated));
    return 0;
}
