#include "DiskRoom.h"

#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

QString NoRoomCause(const QString& folder, qint64 needed) {
    QString there = folder;
    for (QFileInfo info(there); !info.exists() && !info.isRoot(); info.setFile(info.path()))
        there = info.path();
    const QStorageInfo storage(there);
    if (there.isEmpty() || !storage.isValid() ||
        storage.bytesAvailable() >= std::max<qint64>(needed, storage.blockSize()))
        return {};
    return QStringLiteral("диск заполнен (свободно %1 байт)").arg(storage.bytesAvailable());
}
