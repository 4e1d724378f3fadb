#include "DeviceAddressSetting.h"

#include "OneLinePath.h"

DeviceAddressSetting ReadDeviceAddress(const SettingsFile& settings) {
    DeviceAddressSetting setting;
    const QString text =
        settings.ReadString(QStringLiteral("General"), QStringLiteral("Device address"), {})
            .trimmed();
    if (text.isEmpty())
        return setting;
    bool number = false;
    const int value = text.toInt(&number, 10);
    if (number)
        setting.address = static_cast<std::uint8_t>(value);
    if (!number || value < 0 || value > 255)
        setting.notice = QStringLiteral("Адрес в настройках не принят: [General] Device "
                                        "address=%1: %2; используется адрес %3")
                             .arg(ShownName(text), number ? QStringLiteral("не от 0 до 255")
                                                          : QStringLiteral("не число"))
                             .arg(setting.address);
    return setting;
}
