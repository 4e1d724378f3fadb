#include "PortProbe.h"

#include "Cp1251.h"
#include "Discovery.h"
#include "FrameLink.h"
#include "LowLatency.h"
#include "OpenDevices.h"
#include "PortMap.h"

namespace {

// A port on the network is opened once: connecting tells whether the box answers and measures
// the round trip, the identification whether the controller behind it answers.
void ProbeNetworkRow(PortRow& row, const PortMap& ports, int speed, std::uint8_t address) {
    FrameLink link(ports);
    link.DeviceAddress = address;
    if (!OpenPort(link, row.port, speed)) {
        // A box another reader of this machine has open is not asked: "порт занят: …".
        row.box = link.OpenBusy()
                      ? link.OpenFailure()
                      : QStringLiteral("не отвечает: %1")
                            .arg(link.OpenFailure().isEmpty() ? QStringLiteral("не открывается")
                                                              : link.OpenFailure());
        row.roundTripMs.reset();
        row.answer = QStringLiteral("—");
        return;
    }
    row.box = QStringLiteral("отвечает");
    row.roundTripMs = link.RoundTripMs();
    row.cause = link.OpenNotice();
    row.cure = row.cause.isEmpty() ? QString()
                                   : QStringLiteral("настройте линию устройства на его странице "
                                                    "настроек (скорость, 8N1, без управления "
                                                    "потоком)");
    QByteArray text;
    row.answer = ReadIdentification(link, text) ? FromCp1251(text) : QStringLiteral("нет ответа");
}

} // namespace

void CheckReadyPorts(SurveyReport& report, const PortMap& ports, int speed,
                     const std::function<bool()>& stop,
                     const std::function<void(std::size_t)>& afterEach, std::uint8_t address) {
    for (std::size_t r = 0; r < report.rows.size(); ++r) {
        if (stop && stop())
            break;
        PortRow& row = report.rows[r];
        // A port held here may be in the middle of a download: a second open would take its
        // answers away (or fail), so it is left alone. Asked now, not at the survey: the window
        // may have opened it since.
        if (DeviceOpenHere(row.node))
            row.openHere = true;
        // A port this user cannot open, or that is gone, is not asked.
        if (row.network && !row.openHere)
            ProbeNetworkRow(row, ports, speed, address);
        else
            row.answer = row.state == PortState::Ready && !row.openHere
                             ? ProbeIdentification(ports, row.port, speed, address)
                             : QStringLiteral("—");
        if (const auto opened = RecordedLowLatency(row.node))
            row.lowLatency = DescribeLowLatency(opened->outcome);
        if (afterEach)
            afterEach(r);
    }
}

QString ProbeIdentification(const PortMap& ports, int port, int speed, std::uint8_t address) {
    FrameLink link(ports);
    link.DeviceAddress = address;
    QByteArray text;
    const bool opened = ProbePort(link, port) && OpenPort(link, port, speed);
    const bool answered = opened && ReadIdentification(link, text);
    if (answered)
        return FromCp1251(text);
    return opened ? QStringLiteral("нет ответа") : QStringLiteral("не открывается");
}
