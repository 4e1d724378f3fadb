#include "IndexErrors.h"

#include "DiskRoom.h"

#include <QFileInfo>
#include <QSqlError>

namespace {

// SQLite's primary result codes (the low byte of an extended one).
constexpr int kSqliteReadOnly = 8;
constexpr int kSqliteIoError = 10;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteFull = 13;
constexpr int kSqliteNotADatabase = 26;

// Less free room than this on the index's disk makes an I/O error the full disk: an archive's
// records, their write-ahead log and its shared memory need more.
constexpr qint64 kRoomForIndex = 1024 * 1024;

int PrimaryCode(const QSqlError& error) {
    return error.nativeErrorCode().toInt() & 0xff;
}

QString FullDiskCause() {
    return QStringLiteral("диск заполнен: места для индекса нет");
}

} // namespace

QString DamagedIndexCause() {
    return QStringLiteral("индекс повреждён; постройте его заново командой kv9000 --reindex "
                          "(архивы не пострадали)");
}

bool IsDamagedIndexError(const QSqlError& error) {
    const int code = PrimaryCode(error);
    return code == kSqliteCorrupt || code == kSqliteNotADatabase;
}

QString IndexErrorCause(const QSqlError& error, const QString& indexPath) {
    if (IsDamagedIndexError(error))
        return DamagedIndexCause();
    switch (PrimaryCode(error)) {
    case kSqliteFull:
        return FullDiskCause();
    case kSqliteReadOnly:
        return QStringLiteral("индекс доступен только для чтения");
    case kSqliteIoError:
        if (indexPath.isEmpty())
            break;
        if (const QString noRoom = NoRoomCause(QFileInfo(indexPath).absolutePath(), kRoomForIndex);
            !noRoom.isEmpty())
            return noRoom + QStringLiteral(": места для индекса нет");
        break;
    default:
        break;
    }
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("ошибка базы данных без описания") : text;
}
