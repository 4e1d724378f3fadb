#include "CompressedArchiveFile.h"

#include "ArchiveGeometry.h"
#include "ImageCompression.h"

namespace {

constexpr int kHashSize = 32;
constexpr int kVersionOffset = 8;
constexpr int kFlagsOffset = 11;
constexpr int kImageSizeSize = 4;

void PutUint(QByteArray& bytes, std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

} // namespace

QByteArray EncodeCompressedArchiveFile(const ArchiveFileContents& contents) {
    // The header and texts are those of the plain file; only the version and the image differ.
    // The blocks read field, when there is one, comes between the port text and the image size.
    const QByteArray plain = EncodeArchiveFile(contents);
    QByteArray bytes = plain.left(plain.size() - kHashSize - ArchiveSize - kImageSizeSize);
    bytes[kVersionOffset] = static_cast<char>(CompressedArchiveFileVersion & 0xFF);
    bytes[kVersionOffset + 1] = static_cast<char>(CompressedArchiveFileVersion >> 8);
    if (contents.blocksRead) {
        bytes[kFlagsOffset] = static_cast<char>(bytes[kFlagsOffset] | ArchiveFileBlocksReadFlag);
        PutUint(bytes, static_cast<std::uint32_t>(*contents.blocksRead), 2);
    }
    PutUint(bytes, ArchiveSize, kImageSizeSize);
    const QByteArray stored = CompressImage(contents.image, contents.channelCount);
    PutUint(bytes, static_cast<std::uint32_t>(stored.size()), 4);
    bytes += stored;
    bytes += plain.right(kHashSize);
    return bytes;
}
