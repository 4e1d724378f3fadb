#include "PortProbe.h"

#include "Cp1251.h"
#include "Discovery.h"
#include "FrameLink.h"
#include "LowLatency.h"
#include "PortMap.h"

void CheckReadyPorts(SurveyReport& report, int speed, const std::function<bool()>& stop,
                     const std::function<void(std::size_t)>& afterEach) {
    for (std::size_t r = 0; r < report.rows.size(); ++r) {
        if (stop && stop())
            break;
        PortRow& row = report.rows[r];
        // A port this user cannot open, or that is gone, is not asked.
        row.answer = row.state == PortState::Ready ? ProbeIdentification(row.port, speed)
                                                   : QStringLiteral("—");
        if (const auto opened = RecordedLowLatency(row.node))
            row.lowLatency = DescribeLowLatency(opened->outcome);
        if (afterEach)
            afterEach(r);
    }
}

QString ProbeIdentification(int port, int speed) {
    // The device open before the check is put back by its device, whatever number it has now.
    const QString previous = CurrentDevice();
    const std::uint8_t address = DeviceAddress;
    QByteArray text;
    bool opened = true;
    bool answered = false;
    if (!previous.isEmpty() && DeviceForPortName(PortName(port)) == previous) {
        answered = ReadIdentification(text);
    } else {
        opened = ProbePort(port) && OpenPort(port, speed);
        answered = opened && ReadIdentification(text);
        if (previous.isEmpty())
            CloseCOM();
        else if (OpenDevice(previous, speed))
            SetModeCOM(3, 0);
    }
    // The answer names the address it came from; the program's address stays as it was.
    DeviceAddress = address;
    if (answered)
        return FromCp1251(text);
    return opened ? QStringLiteral("нет ответа") : QStringLiteral("не открывается");
}
