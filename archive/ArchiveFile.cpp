#include "ArchiveFile.h"

#include "RegularFile.h"

#include "ArchiveDecoder.h"
#include "ArchiveGeometry.h"
#include "ExclusiveName.h"
#include "FileSync.h"
#include "ImageCompression.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStorageInfo>
#include <QStringDecoder>

namespace {

// The cause of a failed write of needed bytes into folder: a full disk is said as such, where the
// file's own error says no more than "Unknown error".
QString WriteFailureCause(const QString& error, const QString& folder, qint64 needed) {
    const QStorageInfo storage(folder);
    if (storage.isValid() && storage.bytesAvailable() < needed)
        return QStringLiteral("диск заполнен: для архива нужно %1 байт, свободно %2")
            .arg(needed)
            .arg(storage.bytesAvailable());
    return error;
}

constexpr char kSignature[8] = {'K', 'V', 'A', 'R', 'C', '\r', '\n', '\x1A'};
constexpr int kSignatureSize = 8;
constexpr int kHashSize = 32;
constexpr int kMaxTextBytes = 255;
constexpr int kMaxOffsetSeconds = 14 * 3600;
constexpr std::uint8_t kSerialKnown = 0x01;
constexpr std::uint8_t kAddressKnown = 0x02;
// Format 2: the download time is not known (a raw image kept as a file); its fields are 0.
constexpr std::uint8_t kTimeUnknown = 0x04;
constexpr std::uint16_t kFirstVersion = 1;
constexpr std::uint16_t kTimeUnknownVersion = 2;
constexpr int kBlockCount = ArchiveSize / ArchiveRecordSize;
// The fixed fields before the texts.
constexpr int kFixedHeaderSize = 28;

const QString kTruncated = QStringLiteral("файл обрезан");

// Little-endian writer.
class Writer {
public:
    void U8(std::uint8_t v) { bytes_.append(static_cast<char>(v)); }
    void U16(std::uint16_t v) {
        U8(v & 0xFF);
        U8(v >> 8);
    }
    void U32(std::uint32_t v) {
        U16(v & 0xFFFF);
        U16(v >> 16);
    }
    void U64(std::uint64_t v) {
        U32(v & 0xFFFFFFFFu);
        U32(v >> 32);
    }
    void Bytes(const QByteArray& b) { bytes_.append(b); }
    // UTF-8, cut to kMaxTextBytes without splitting a character.
    void Text(const QString& text) {
        QByteArray utf8 = text.toUtf8();
        if (utf8.size() > kMaxTextBytes) {
            qsizetype end = kMaxTextBytes;
            while (end > 0 && (static_cast<std::uint8_t>(utf8[end]) & 0xC0) == 0x80)
                --end;
            utf8.truncate(end);
        }
        U16(static_cast<std::uint16_t>(utf8.size()));
        Bytes(utf8);
    }
    QByteArray Result() const { return bytes_; }

private:
    QByteArray bytes_;
};

// Little-endian reader that never reads past the end: a short read sets the failure "truncated"
// and returns zeros from then on.
class Reader {
public:
    explicit Reader(const QByteArray& bytes) : bytes_(bytes) {}
    bool Failed() const { return !error_.isEmpty(); }
    QString Error() const { return error_; }
    void Fail(const QString& error) {
        if (error_.isEmpty())
            error_ = error;
    }
    qsizetype Remaining() const { return bytes_.size() - pos_; }

    QByteArray Take(qsizetype n) {
        if (Failed() || n > Remaining()) {
            Fail(kTruncated);
            return {};
        }
        const QByteArray part = bytes_.mid(pos_, n);
        pos_ += n;
        return part;
    }
    std::uint64_t Uint(int size) {
        const QByteArray b = Take(size);
        std::uint64_t v = 0;
        for (int i = b.size() - 1; i >= 0; --i)
            v = (v << 8) | static_cast<std::uint8_t>(b[i]);
        return v;
    }
    QString Text(const char* field) {
        const auto size = static_cast<qsizetype>(Uint(2));
        if (size > kMaxTextBytes) {
            Fail(QStringLiteral("файл повреждён: слишком длинное поле «%1»")
                     .arg(QString::fromUtf8(field)));
            return {};
        }
        const QByteArray utf8 = Take(size);
        // A leading byte-order mark is part of the text: it is kept, so the text is written back
        // as it was read.
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        const QString text = decoder(utf8);
        if (decoder.hasError())
            Fail(QStringLiteral("файл повреждён: поле «%1» не в кодировке UTF-8")
                     .arg(QString::fromUtf8(field)));
        return text;
    }

private:
    const QByteArray& bytes_;
    qsizetype pos_ = 0;
    QString error_;
};

bool HasSignature(const QByteArray& bytes) {
    return bytes.startsWith(QByteArray::fromRawData(kSignature, kSignatureSize));
}

ArchiveFileReadResult Failure(const QString& error) {
    ArchiveFileReadResult result;
    result.error = error;
    return result;
}

ArchiveFileReadResult DecodeRawImage(const QByteArray& bytes) {
    ArchiveFileContents contents;
    contents.image = bytes;
    contents.channelCount = RawImageChannelCount(bytes);
    ArchiveFileReadResult result;
    result.contents = std::move(contents);
    result.rawImage = true;
    result.imageSha256 = ArchiveImageSha256(bytes);
    return result;
}

} // namespace

QByteArray ArchiveImageSha256(const QByteArray& image) {
    return QCryptographicHash::hash(image, QCryptographicHash::Sha256);
}

QByteArray EncodeArchiveFile(const ArchiveFileContents& contents) {
    Writer w;
    w.Bytes(QByteArray::fromRawData(kSignature, kSignatureSize));
    // A file with a known download time is written as format 1, byte for byte as before, so
    // that older versions of the program keep reading it.
    const bool timeKnown = contents.downloadedAt.isValid();
    w.U16(timeKnown ? kFirstVersion : kTimeUnknownVersion);
    w.U8(static_cast<std::uint8_t>(contents.channelCount));
    w.U8((contents.serial ? kSerialKnown : 0) | (contents.address ? kAddressKnown : 0) |
         (timeKnown ? 0 : kTimeUnknown));
    w.U16(contents.serial.value_or(0));
    w.U8(contents.address.value_or(0));
    w.U8(0);
    w.U64(timeKnown ? static_cast<std::uint64_t>(contents.downloadedAt.toMSecsSinceEpoch()) : 0);
    w.U32(timeKnown ? static_cast<std::uint32_t>(contents.downloadedAt.offsetFromUtc()) : 0);
    w.Text(contents.identification);
    w.Text(contents.comment);
    w.Text(contents.port);
    w.U32(static_cast<std::uint32_t>(contents.image.size()));
    w.Bytes(contents.image);
    w.Bytes(ArchiveImageSha256(contents.image));
    return w.Result();
}

int RawImageChannelCount(const QByteArray& image) {
    const ArchiveGeometry two = GeometryFor(2);
    for (int block = 0; block < SettingsBlockCount; ++block) {
        const qsizetype marker =
            two.recordAreaSize + qsizetype{block} * ArchiveRecordSize + ArchiveRecordSize - 1;
        if (marker < image.size() &&
            static_cast<std::uint8_t>(image[marker]) == SettingsBlockMarker)
            return 2;
    }
    return 1;
}

ArchiveFileReadResult DecodeArchiveFile(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return Failure(QStringLiteral("файл пуст"));
    if (!HasSignature(bytes)) {
        if (bytes.size() < kSignatureSize &&
            QByteArray::fromRawData(kSignature, kSignatureSize).startsWith(bytes))
            return Failure(kTruncated);
        if (bytes.size() == ArchiveSize)
            return DecodeRawImage(bytes);
        return Failure(QStringLiteral("это не файл архива и не образ памяти регулятора "
                                      "(образ — ровно %1 байт, а в файле %2)")
                           .arg(ArchiveSize)
                           .arg(bytes.size()));
    }

    Reader r(bytes);
    r.Take(kSignatureSize);
    const auto version = static_cast<std::uint16_t>(r.Uint(2));
    if (r.Failed())
        return Failure(r.Error());
    if (version > ArchiveFileFormatVersion)
        return Failure(QStringLiteral("файл записан более новой версией программы (формат %1, "
                                      "эта версия читает формат до %2)")
                           .arg(version)
                           .arg(ArchiveFileFormatVersion));
    if (version == 0)
        return Failure(QStringLiteral("файл повреждён: версия формата 0"));

    ArchiveFileContents c;
    c.channelCount = static_cast<int>(r.Uint(1));
    const auto flags = static_cast<std::uint8_t>(r.Uint(1));
    const auto serial = static_cast<std::uint16_t>(r.Uint(2));
    const auto address = static_cast<std::uint8_t>(r.Uint(1));
    const auto reserved = r.Uint(1);
    const auto msecs = static_cast<qint64>(r.Uint(8));
    const auto offset = static_cast<qint32>(static_cast<std::uint32_t>(r.Uint(4)));
    c.identification = r.Text("идентификация");
    c.comment = r.Text("комментарий");
    c.port = r.Text("порт");
    if (version >= CompressedArchiveFileVersion && (flags & ArchiveFileBlocksReadFlag))
        c.blocksRead = static_cast<int>(r.Uint(2));
    const auto imageSize = static_cast<qsizetype>(r.Uint(4));
    if (r.Failed())
        return Failure(r.Error());

    if (c.channelCount < 1 || c.channelCount > MaxChannelCount)
        return Failure(QStringLiteral("файл повреждён: число каналов %1").arg(c.channelCount));
    // Format 1 knows the serial and address flags; format 2 adds the unknown download time and
    // is written only with it, so that every file has one encoding; format 3 adds the blocks
    // read field.
    const std::uint8_t knownFlags =
        kSerialKnown | kAddressKnown | (version >= kTimeUnknownVersion ? kTimeUnknown : 0) |
        (version >= CompressedArchiveFileVersion ? ArchiveFileBlocksReadFlag : 0);
    if ((flags & ~knownFlags) != 0 || reserved != 0)
        return Failure(QStringLiteral("файл повреждён: неизвестные признаки в заголовке"));
    const bool timeUnknown = (flags & kTimeUnknown) != 0;
    if (version == 2 && !timeUnknown)
        return Failure(
            QStringLiteral("файл повреждён: формат 2 без признака неизвестного времени"));
    // A number marked unknown is written as 0; anything else there is damage, not a number.
    if ((!(flags & kSerialKnown) && serial != 0) || (!(flags & kAddressKnown) && address != 0) ||
        (timeUnknown && (msecs != 0 || offset != 0)))
        return Failure(QStringLiteral("файл повреждён: номер, адрес или время без признака"));
    if (c.blocksRead && (*c.blocksRead < 1 || *c.blocksRead > kBlockCount))
        return Failure(QStringLiteral("файл повреждён: прочитано блоков %1").arg(*c.blocksRead));
    if (offset < -kMaxOffsetSeconds || offset > kMaxOffsetSeconds)
        return Failure(QStringLiteral("файл повреждён: смещение от UTC %1 с").arg(offset));
    if (!timeUnknown) {
        c.downloadedAt = QDateTime::fromMSecsSinceEpoch(msecs, Qt::OffsetFromUTC, offset);
        if (!c.downloadedAt.isValid() || c.downloadedAt.toMSecsSinceEpoch() != msecs ||
            c.downloadedAt.offsetFromUtc() != offset)
            return Failure(QStringLiteral("файл повреждён: дата загрузки"));
    }
    if (flags & kSerialKnown)
        c.serial = serial;
    if (flags & kAddressKnown)
        c.address = address;
    if (imageSize != ArchiveSize)
        return Failure(QStringLiteral("файл повреждён: образ %1 байт вместо %2")
                           .arg(imageSize)
                           .arg(ArchiveSize));
    if (version >= CompressedArchiveFileVersion) {
        const QByteArray stored = r.Take(static_cast<qsizetype>(r.Uint(4)));
        if (r.Failed())
            return Failure(r.Error());
        QString cause;
        c.image = DecompressImage(stored, c.channelCount, cause);
        if (c.image.isEmpty())
            return Failure(QStringLiteral("файл повреждён: ") + cause);
    } else {
        c.image = r.Take(imageSize);
    }
    const QByteArray hash = r.Take(kHashSize);
    if (r.Failed())
        return Failure(r.Error());
    if (r.Remaining() != 0)
        return Failure(QStringLiteral("файл повреждён: лишние данные после контрольной суммы"));
    if (hash != ArchiveImageSha256(c.image))
        return Failure(QStringLiteral("контрольная сумма образа не совпадает: файл повреждён"));

    ArchiveFileReadResult result;
    result.contents = std::move(c);
    result.imageSha256 = hash;
    result.compressed = version >= CompressedArchiveFileVersion;
    return result;
}

ArchiveFileReadResult ReadArchiveFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return Failure(QStringLiteral("файл не найден"));
    if (info.isDir())
        return Failure(QStringLiteral("это папка, а не файл"));
    // A named pipe or a device (a slip for the port's name) would block the open or the read for
    // ever: only a regular file is opened, and the check is made again on what was opened.
    const QString notRegular = QStringLiteral("это не обычный файл (устройство или канал)");
    if (!info.isFile())
        return Failure(notRegular);
    if (info.size() > ArchiveFileSizeLimit)
        return Failure(QStringLiteral("файл слишком велик для архива (%1 байт, допустимо до %2)")
                           .arg(info.size())
                           .arg(ArchiveFileSizeLimit));
    QFile file;
    if (const QString error = OpenRegularFile(path, file, notRegular); !error.isEmpty())
        return Failure(error);
    // One byte more than the limit: a file that grew since it was looked at is still refused.
    const QByteArray bytes = file.read(ArchiveFileSizeLimit + 1);
    if (file.error() != QFileDevice::NoError)
        return Failure(QStringLiteral("файл не читается: %1").arg(file.errorString()));
    if (bytes.size() > ArchiveFileSizeLimit)
        return Failure(QStringLiteral("файл слишком велик для архива"));
    return DecodeArchiveFile(bytes);
}

std::optional<int> ReadArchiveFileBlocksRead(const QString& path) {
    QFile file;
    if (!OpenRegularFile(path, file, QString()).isEmpty())
        return std::nullopt;
    // The fixed fields, three texts of at most 255 bytes and the field itself.
    const QByteArray header = file.read(kFixedHeaderSize + 3 * (2 + kMaxTextBytes) + 2);
    if (!HasSignature(header))
        return std::nullopt;
    Reader r(header);
    r.Take(kSignatureSize);
    const auto version = r.Uint(2);
    r.Uint(1); // channel count
    const auto flags = r.Uint(1);
    // Formats 1 and 2, and a format 3 file without the field, hold a whole download.
    if (r.Failed() || version < CompressedArchiveFileVersion ||
        version > ArchiveFileFormatVersion || !(flags & ArchiveFileBlocksReadFlag))
        return std::nullopt;
    r.Take(kFixedHeaderSize - kSignatureSize - 4);
    for (const char* field : {"идентификация", "комментарий", "порт"})
        r.Text(field);
    const auto blocks = static_cast<int>(r.Uint(2));
    if (r.Failed() || blocks < 1 || blocks > kBlockCount)
        return std::nullopt;
    return blocks;
}

QString WriteArchiveFile(const QString& path, const ArchiveFileContents& contents) {
    const QByteArray bytes = EncodeArchiveFile(contents);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("не удалось создать папку %1").arg(folder);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    QString error;
    if (file.write(bytes) != bytes.size())
        error = file.errorString();
    else
        error = SyncToDisk(file);
    if (!error.isEmpty()) {
        error = WriteFailureCause(error, folder, bytes.size());
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return WriteFailureCause(file.errorString(), folder, bytes.size());
    return {};
}

QString AutoSavePath(const QString& folder, const ArchiveFileContents& contents,
                     const QStringList& alsoTaken, bool checkDisk) {
    const QString serial =
        contents.serial ? QString::number(*contents.serial) : QStringLiteral("unknown-serial");
    // A download of unknown time gets a visible name of its own, never the hidden ".kvarc".
    const QString when = contents.downloadedAt.isValid()
                             ? contents.downloadedAt.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"))
                             : QStringLiteral("unknown-time");
    const QString base = QDir(folder).filePath(serial + QLatin1Char('/') + when);
    QString path = base + QStringLiteral(".kvarc");
    for (int n = 2; (checkDisk && QFileInfo::exists(path)) || alsoTaken.contains(path); ++n)
        path = base + QStringLiteral("_%1.kvarc").arg(n);
    return path;
}

QString KeepArchiveFile(const QString& folder, const ArchiveFileContents& contents,
                        QString* keptPath, KeptEncoding encoding) {
    const QString wanted = AutoSavePath(folder, contents, {}, /*checkDisk=*/false);
    const QString base = wanted.chopped(6); // without ".kvarc"
    const QString dir = QFileInfo(wanted).absolutePath();
    if (!QDir().mkpath(dir))
        return QStringLiteral("не удалось создать папку %1").arg(dir);
    // Written whole under a name of its own in the same folder; the final name is taken by the
    // move, which never replaces a file. A plain file, closed before the move: Windows moves no
    // file that is still open.
    QFile file;
    for (int attempt = 0; attempt < 100 && !file.isOpen(); ++attempt) {
        file.setFileName(QDir(dir).filePath(
            QStringLiteral(".kvarc-%1.tmp").arg(QRandomGenerator::global()->generate64(), 0, 16)));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !file.exists())
            return file.errorString();
    }
    if (!file.isOpen())
        return file.errorString();
    const QByteArray bytes = encoding == KeptEncoding::Compressed
                                 ? EncodeCompressedArchiveFile(contents)
                                 : EncodeArchiveFile(contents);
    QString error;
    if (file.write(bytes) != bytes.size())
        error = file.errorString();
    else
        error = SyncToDisk(file);
    if (!error.isEmpty())
        error = WriteFailureCause(error, dir, bytes.size());
    file.close();
    // A kept archive is readable as any file written.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                        QFileDevice::ReadOther);
    const QString kept =
        error.isEmpty() ? MoveToFreeName(file.fileName(), base, QStringLiteral(".kvarc"), &error)
                        : QString();
    if (kept.isEmpty()) {
        file.remove(); // nothing is left behind
        return error;
    }
    if (keptPath)
        *keptPath = kept;
    return {};
}

namespace compressed {

constexpr int kHashSize = 32;
constexpr int kVersionOffset = 8;
constexpr int kFlagsOffset = 11;
constexpr int kImageSizeSize = 4;

void PutUint(QByteArray& bytes, std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i)
        bytes.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

} // namespace compressed

QByteArray EncodeCompressedArchiveFile(const ArchiveFileContents& contents) {
    // The header and texts are those of the plain file; only the version and the image differ.
    // The blocks read field, when there is one, comes between the port text and the image size.
    const QByteArray plain = EncodeArchiveFile(contents);
    QByteArray bytes =
        plain.left(plain.size() - compressed::kHashSize - ArchiveSize - compressed::kImageSizeSize);
    bytes[compressed::kVersionOffset] = static_cast<char>(CompressedArchiveFileVersion & 0xFF);
    bytes[compressed::kVersionOffset + 1] = static_cast<char>(CompressedArchiveFileVersion >> 8);
    if (contents.blocksRead) {
        bytes[compressed::kFlagsOffset] =
            static_cast<char>(bytes[compressed::kFlagsOffset] | ArchiveFileBlocksReadFlag);
        compressed::PutUint(bytes, static_cast<std::uint32_t>(*contents.blocksRead), 2);
    }
    compressed::PutUint(bytes, ArchiveSize, compressed::kImageSizeSize);
    const QByteArray stored = CompressImage(contents.image, contents.channelCount);
    compressed::PutUint(bytes, static_cast<std::uint32_t>(stored.size()), 4);
    bytes += stored;
    bytes += plain.right(compressed::kHashSize);
    return bytes;
}
