#include "CompressedArchiveFile.h"

#include "ArchiveGeometry.h"
#include "ImageCompression.h"

namespace {

constexpr int kHashSize = 32;
constexpr int kVersionOffset = 8;

void PutU32(QByteArray& bytes, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

} // namespace

QByteArray EncodeCompressedArchiveFile(const ArchiveFileContents& contents) {
    // The header and texts are those of the plain file; only the version and the image differ.
    const QByteArray plain = EncodeArchiveFile(contents);
    QByteArray bytes = plain.left(plain.size() - kHashSize - ArchiveSize);
    bytes[kVersionOffset] = static_cast<char>(CompressedArchiveFileVersion & 0xFF);
    bytes[kVersionOffset + 1] = static_cast<char>(CompressedArchiveFileVersion >> 8);
    const QByteArray stored = CompressImage(contents.image, contents.channelCount);
    PutU32(bytes, static_cast<std::uint32_t>(stored.size()));
    bytes += stored;
    bytes += plain.right(kHashSize);
    return bytes;
}
