#pragma once

// The archive file (.kvarc): one complete download kept with the controller's identity as last
// read, so that it can be shown, charted and exported later without the controller. The layout
// is described in docs/archive-file.md; encoding and decoding are functions over bytes, and the
// file-level reader and writer below add only what files bring (size, folders, permissions).
//
// A raw image (exactly 0x42000 bytes without the signature, e.g. a memory dump) decodes too:
// its channel count follows from where valid settings blocks lie, its identity stays empty.
//
// How the archive layer (archive/) reports a failure: as the cause in plain Russian words, an
// empty text meaning success; a function that also gives a value returns a result struct with
// the value and that text (ArchiveFileReadResult, DownloadResult with its outcome). Nothing
// throws out of archive/.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// The newest format version this program writes; it reads this one and every older one. A file
// whose download time is known is written as format 1, as before; format 2 marks the time unknown;
// format 3 stores the image compressed (EncodeCompressedArchiveFile below), as kept downloads are
// written, and alone can say how many blocks a read of only what changed took from the controller.
constexpr std::uint16_t ArchiveFileFormatVersion = 3;
// No archive file is larger than this (the image plus a few KB of header).
constexpr qint64 ArchiveFileSizeLimit = 4 * 1024 * 1024;

struct ArchiveFileContents {
    int channelCount = 0;                // 1 or 2
    std::optional<std::uint16_t> serial; // as last read; nullopt when no read delivered it
    std::optional<std::uint8_t> address; // as last read
    QString identification;              // the controller's identification text as last read
    QString comment;                     // the installation-place comment as last read
    QString port;                        // "COM3"; empty when not known
    QDateTime downloadedAt; // local time of the download, with its UTC offset; invalid: not known
    QByteArray image;       // exactly ArchiveSize bytes
    // A read of only what changed since the last download: the blocks of 32 bytes it took from
    // the controller (1 .. 8,448), the rest of the image coming from that download. nullopt: the
    // whole archive was read.
    std::optional<int> blocksRead;
};

struct ArchiveFileReadResult {
    std::optional<ArchiveFileContents> contents; // set on success
    bool rawImage = false;                       // the bytes were a raw image, not a .kvarc file
    bool compressed = false;                     // the file stores the image compressed (format 3)
    QByteArray imageSha256; // with contents: the image's SHA-256 (a file's own, checked)
    QString error; // on failure: the cause in plain Russian words, e.g. "файл пуст"
};

// The image's SHA-256: an archive file's checksum and the name by which the library and the team
// library know a download. Every place that needs it asks here.
QByteArray ArchiveImageSha256(const QByteArray& image);

// The bytes of an archive file of format 1 or 2. contents.image must be ArchiveSize bytes and
// channelCount 1 or 2; texts longer than the format allows are cut at a character boundary.
// blocksRead is not written: these formats hold the image alone, whole as it always is.
QByteArray EncodeArchiveFile(const ArchiveFileContents& contents);

// Checks and reads the bytes of an archive file or a raw image. Every field is checked: the
// signature, the format version (a newer one is refused), every length, the text encoding, the
// channel count, the image size and its SHA-256; nothing is read past the end of bytes.
ArchiveFileReadResult DecodeArchiveFile(const QByteArray& bytes);

// The channel count of a raw image: 2 when channel 1's settings area of the two-channel layout
// holds a valid settings block, otherwise 1.
int RawImageChannelCount(const QByteArray& image);

// Reads and decodes the file at path. Also refuses, each with its own cause, a folder, anything
// that is not a regular file (a named pipe, a device: refused without blocking), a file that
// cannot be read, and a file larger than ArchiveFileSizeLimit (without reading it).
ArchiveFileReadResult ReadArchiveFile(const QString& path);

// The blocks-read field of the archive file at path, from its header alone (a list of many
// visits asks it without reading every image): nullopt for a whole download (formats 1 and 2,
// and format 3 without the field) and for a file whose header does not read.
std::optional<int> ReadArchiveFileBlocksRead(const QString& path);

// Writes the archive file at path atomically (a temporary file renamed over the target only when
// complete and flushed), creating missing folders. Returns the cause of a failure in plain
// Russian words, or an empty text on success; a failed write leaves an earlier file whole.
QString WriteArchiveFile(const QString& path, const ArchiveFileContents& contents);

// Where a download is kept automatically: folder/<serial>/<YYYY-MM-DD_HH-MM-SS>.kvarc from the
// download's local time ("unknown-serial" when the serial number is not known, "unknown-time"
// when the download's time is not known). When that name is
// taken (an existing file when checkDisk, or one of alsoTaken), "_2", "_3" ... is added before
// the extension. The name only proposes: KeepArchiveFile takes it.
QString AutoSavePath(const QString& folder, const ArchiveFileContents& contents,
                     const QStringList& alsoTaken = {}, bool checkDisk = true);

// Keeps a download under its automatic name in folder (see AutoSavePath): the file is written
// whole and flushed under a temporary name, then takes the name exclusively; when another file
// has it, even one that appeared a moment ago, "_2", "_3" ... is tried. No file is ever replaced.
// Returns the cause of a failure (nothing is left behind then), or an empty text with keptPath
// set to the name taken. A download is kept compressed (format 3); a copy (an import, a file
// fetched from the team library) as the file it copies was, compressed or plain.
enum class KeptEncoding { Plain, Compressed };
QString KeepArchiveFile(const QString& folder, const ArchiveFileContents& contents,
                        QString* keptPath, KeptEncoding encoding = KeptEncoding::Plain);

// The archive file's format version 3: the fields of versions 1 and 2, with the image stored
// compressed (CompressImage) between its size and its SHA-256, and for a read of only what
// changed the number of blocks read after the port (flag ArchiveFileBlocksReadFlag). Kept downloads
// are written so, about a sixth of the size of the image (copies as the file they copy); "save as"
// still writes version 1 or 2, which every version of the program reads. DecodeArchiveFile reads
// all three.
constexpr std::uint16_t CompressedArchiveFileVersion = 3;
// Format 3's flag: the blocks read field (2 bytes, 1 .. 8,448) follows the port text. Without
// it the whole archive was read.
constexpr std::uint8_t ArchiveFileBlocksReadFlag = 0x08;

// The bytes of a version 3 archive file (see docs/archive-file.md). contents as for
// EncodeArchiveFile, blocksRead (1 .. 8,448) kept too; the same contents always give the same
// bytes.
QByteArray EncodeCompressedArchiveFile(const ArchiveFileContents& contents);
