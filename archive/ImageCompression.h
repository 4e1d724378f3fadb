#pragma once

// The archive image stored compactly for the archive file's format version 3. Records change
// little from one to the next: the time steps by the logging interval and the values drift. The
// image is turned into planes that hold, per field of the data records, what the field's value
// differs by from a foretelling: a byte by its value in the record before (in flash order), a
// 16-bit value by the foretelling that suits it best (the record before, or a field before it in
// the same record; each channel's choices in a small table ahead of its planes), as zigzag numbers
// split into low and high bytes; each channel's settings area as it is. The planes are deflated
// (zlib). The transform is exact for any bytes: damaged or erased records come back byte for byte.
//
// Failures follow archive/: a cause in plain Russian words.

#include <QByteArray>
#include <QString>

// The stored form of a whole image (ArchiveSize bytes) laid out for channelCount (1 or 2)
// channels. The same image and channel count always give the same bytes.
QByteArray CompressImage(const QByteArray& image, int channelCount);

// The image back from its stored form: exactly ArchiveSize bytes, or an empty array with the
// cause in error when stored is no complete zlib stream of exactly that many bytes (a damaged or
// truncated stream, bytes after its end). Never inflates more than ArchiveSize bytes.
QByteArray DecompressImage(const QByteArray& stored, int channelCount, QString& error);
