#include "PortSettings.h"

#include "UserFolders.h"

#include <QDir>

#include <utility>

PortSettings ReadPortSettings(const SettingsFile& settings, PortMap::DeviceLister systemDevices) {
    PortSettings out;
    std::map<int, QString> refusedNumbers;
    const std::map<int, QString> ports = settings.ReadPorts(&out.refused, &refusedNumbers);
    out.ports = PortMap(ports, refusedNumbers, std::move(systemDevices));
    out.ports.SetHoldFolder(QDir(StateFolder()).filePath(QStringLiteral("ports")));
    return out;
}
