// SurveyPorts (PortSurvey.h) on Windows: the system keeps no device folders to read and no
// permissions per user on a COM port, so each port the program would try is opened once and the
// system's answer says the rest: opened (free), access denied (another program holds it), or not
// found (unplugged, or its driver is missing). The port this program holds itself does not open
// a second time either: it is shown as open here, and the check asks it through the open link.

#include "PortSurvey.h"

#include "LowLatency.h"
#include "OpenDevices.h"
#include "PortMap.h"

#include <windows.h>

SurveyUser SurveyUser::Current() {
    SurveyUser user;
    user.name = qEnvironmentVariable("USERNAME");
    user.ownPid = static_cast<long>(GetCurrentProcessId());
    return user;
}

SurveyReport SurveyPorts(const PortMap& map, const SurveyRoots&, const SurveyUser&, int onlyPort) {
    SurveyReport report;
    std::vector<std::pair<int, QString>> ports;
    if (onlyPort > 0)
        ports.emplace_back(onlyPort, map.DeviceFor(onlyPort));
    else
        ports = map.Assigned();
    for (const auto& [port, node] : ports) {
        PortRow row;
        row.port = port;
        row.node = node;
        row.network = NamesNetworkPort(node);
        if (const auto opened = RecordedLowLatency(node))
            row.lowLatency = DescribeLowLatency(opened->outcome);
        if (DeviceOpenHere(node) || row.network) {
            // Ready: the check leaves a port held here to the link that holds it, and asks the
            // box of a port on the network itself.
            row.openHere = DeviceOpenHere(node);
            report.rows.push_back(row);
            continue;
        }
        const HANDLE h =
            CreateFileW(reinterpret_cast<const wchar_t*>(node.utf16()),
                        GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        } else if (GetLastError() == ERROR_ACCESS_DENIED) {
            row.state = PortState::Busy;
            row.cause = QStringLiteral("порт занят другой программой");
            row.cure = QStringLiteral("закройте программу, которая держит порт (терминал, другую "
                                      "программу обслуживания), или выберите другой порт");
        } else {
            row.state = PortState::Missing;
            row.cause = QStringLiteral("устройства %1 нет").arg(node);
            row.cure = QStringLiteral("подключите адаптер; номер его COM-порта показывает "
                                      "диспетчер устройств");
        }
        report.rows.push_back(row);
    }
    return report;
}
