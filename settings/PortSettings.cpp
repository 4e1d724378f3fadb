#include "PortSettings.h"

#include "DeviceHold.h"
#include "PortMap.h"
#include "UserFolders.h"

#include <QDir>

QStringList UsePortSettings(const SettingsFile& settings) {
    QStringList refused;
    std::map<int, QString> refusedNumbers;
    const std::map<int, QString> ports = settings.ReadPorts(&refused, &refusedNumbers);
    SetPortMap(ports, refusedNumbers);
    SetDeviceHoldFolder(QDir(StateFolder()).filePath(QStringLiteral("ports")));
    return refused;
}
