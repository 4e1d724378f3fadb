#pragma once

// The archive file's format version 3: the fields of versions 1 and 2, with the image stored
// compressed (CompressImage) between its size and its SHA-256, and for a read of only what
// changed the number of blocks read after the port (flag ArchiveFileBlocksReadFlag). Kept downloads
// are written so, about a sixth of the size of the image (copies as the file they copy); "save as"
// still writes version 1 or 2, which every version of the program reads. DecodeArchiveFile reads
// all three.

#include "ArchiveFile.h"

#include <QByteArray>

constexpr std::uint16_t CompressedArchiveFileVersion = 3;
// Format 3's flag: the blocks read field (2 bytes, 1 .. 8,448) follows the port text. Without
// it the whole archive was read.
constexpr std::uint8_t ArchiveFileBlocksReadFlag = 0x08;

// The bytes of a version 3 archive file (see docs/archive-file.md). contents as for
// EncodeArchiveFile, blocksRead (1 .. 8,448) kept too; the same contents always give the same
// bytes.
QByteArray EncodeCompressedArchiveFile(const ArchiveFileContents& contents);
