#include "OpenDevices.h"

#include <QMutex>
#include <QStringList>

namespace {

QMutex& Guard() {
    static QMutex mutex;
    return mutex;
}

QStringList& Devices() {
    static QStringList devices;
    return devices;
}

} // namespace

void NoteDeviceOpened(const QString& device) {
    const QMutexLocker lock(&Guard());
    Devices().append(device);
}

void NoteDeviceClosed(const QString& device) {
    const QMutexLocker lock(&Guard());
    const qsizetype i = Devices().indexOf(device);
    if (i >= 0)
        Devices().removeAt(i);
}

bool DeviceOpenHere(const QString& device) {
    const QMutexLocker lock(&Guard());
    return Devices().contains(device, Qt::CaseInsensitive);
}
