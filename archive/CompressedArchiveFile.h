#pragma once

// The archive file's format version 3: the fields of versions 1 and 2, with the image stored
// compressed (CompressImage) between its size and its SHA-256. Kept downloads are written so,
// about a sixth of the size of the image (copies as the file they copy); "save as" still writes
// version 1 or 2, which every version of the program reads. DecodeArchiveFile reads all three.

#include "ArchiveFile.h"

#include <QByteArray>

constexpr std::uint16_t CompressedArchiveFileVersion = 3;

// The bytes of a version 3 archive file (see docs/archive-file.md). contents as for
// EncodeArchiveFile; the same contents always give the same bytes.
QByteArray EncodeCompressedArchiveFile(const ArchiveFileContents& contents);
